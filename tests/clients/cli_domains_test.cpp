// Domain and directory commands: one row per call (see
// support/net/cli_session.h).
#include "clients/cli.h"

#include <gtest/gtest.h>

#include "support/net/cli_session.h"
#include "support/serverdata/values.h"
