# Installs the build at BUILD into a fresh staging prefix PREFIX, every
# component, for the install tests: cmake -DBUILD=... -DPREFIX=... -P stage.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "installing ${BUILD} into ${PREFIX} failed (${result}); is everything built?")
endif()
