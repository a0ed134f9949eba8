// Counts the messages waiting in a POP3 mailbox; the account comes as
// data-set text: mailbox_count '{host=127.0.0.1; port=110; user=bob; password=secret;}'
#include <cstdint>
#include <iostream>

#include "clients/pop3.h"
#include "runtime/exception.h"
#include "serverdata/dataset.h"

int main(int argc, char** argv) {
    const cgp::DataSet account = cgp::DataSet::parse(argc == 2 ? argv[1] : "");
    if (account->getType() != cgp::DataSet::kDictionary) {
        std::cerr << "usage: mailbox_count '{host=...; port=...; user=...; password=...;}'\n";
        return 2;
    }
    try {
        qdl::pop3 mailbox;
        mailbox.connect(account.getPath("host")->value, static_cast<uint16_t>(account.getPath("port")->asInt()));
        mailbox.login(account.getPath("user")->value, account.getPath("password")->value, false);
        std::cout << mailbox.stat() << " messages\n";
        mailbox.quit();
    } catch (const qdl::Exception& e) {
        std::cerr << "mailbox_count: " << e.message() << "\n";
        return 1;
    }
    return 0;
}
