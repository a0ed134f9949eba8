// Mailboxes, subscriptions, forwarders, groups and mailing lists: one line
// per command, in the forms of cli_command.h, and the operations that read,
// change and store a value.
#include "clients/cli.h"

#include <set>

namespace cgp {

using namespace cmd;

DataSet CLI::getAccountSubscription(const std::string& account) {
    return dataQuery("GetAccountSubscription", {P(account)});
}

void CLI::setAccountSubscription(const std::string& account, const DataSet& subscription) {
    command("SetAccountSubscription", {P(account), Array(subscription)});
}

DataSet CLI::getMailboxACL(const std::string& account, const std::string& mailbox, const std::string& authAccount) {
    return dataQuery("GetMailboxACL", {P(account), "MAILBOX", Q(mailbox), opt("AUTH", P(authAccount))});
}

void CLI::setMailboxACL(const std::string& account, const std::string& mailbox, const DataSet& acl,
                        const std::string& authAccount) {
    command("SetMailboxACL", {P(account), "MAILBOX", Q(mailbox), opt("AUTH", P(authAccount)), Dict(acl)});
}

void CLI::list(const std::string& list, const std::string& operation, const std::string& address, bool silently,
               bool confirm) {
    command("List", {P(list), P(operation), flag("silently", silently), flag("confirm", confirm), P(address)});
}

DataSet CLI::listSubscribers(const std::string& list, const std::string& filter, int limit) {
    return dataQuery("ListSubscribers", {P(list), when(!filter.empty() || limit > 0, {"FILTER", Q(filter).unchecked()}),
                                         when(limit > 0, {N(limit)})});
}

void CLI::addAccountSubscription(const std::string& account, const DataSet& item) {
    DataSet subscription = getAccountSubscription(account);
    data_set::Elements& names = subscription->elements;
    if (!item.isNull() && item->getType() == DataSet::kString) {
        for (const DataSet& name : names)
            if (!name.isNull() && name->value == item->value) return;
        names.push_back(DataSet(item->value));
    } else {
        // std::string compares its bytes as unsigned values.
        std::set<std::string> merged;
        for (const DataSet& name : names)
            if (!name.isNull()) merged.insert(name->value);
        if (!item.isNull())
            for (const DataSet& name : item->elements)
                if (!name.isNull()) merged.insert(name->value);
        names.clear();
        for (const std::string& name : merged) names.push_back(DataSet(name));
    }
    setAccountSubscription(account, subscription);
}

void CLI::setMailboxACLEntry(const std::string& account, const std::string& mailbox, const DataSet& entries,
                             const std::string& authAccount) {
    DataSet acl = getMailboxACL(account, mailbox, authAccount);
    // Emptied rights go out as "": the server's reader refuses "key = ;".
    for (auto& member : acl->members) member.second = DataSet(std::string());
    if (!entries.isNull())
        for (const auto& entry : entries->members)
            acl->members[entry.first] = entry.second.isNull() ? DataSet(std::string()) : entry.second.clone();
    setMailboxACL(account, mailbox, acl, authAccount);
}

}  // namespace cgp
