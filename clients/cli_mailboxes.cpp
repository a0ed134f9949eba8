// Mailboxes, subscriptions, forwarders, groups and mailing lists: one line
// per command, in the forms of cli_command.h, and the operations that read,
// change and store a value.
#include "clients/cli.h"

#include <set>

#include "clients/internal/cli_command.h"

namespace cgp {

using namespace cmd;

// ---- mailboxes ----

void CLI::createMailbox(const std::string& account, const std::string& mailbox, const std::string& authAccount) {
    command("CreateMailbox", {P(account), "MAILBOX", Q(mailbox), opt("AUTH", P(authAccount))});
}

void CLI::deleteMailbox(const std::string& account, const std::string& mailbox, const std::string& authAccount) {
    command("DeleteMailbox", {P(account), "MAILBOX", Q(mailbox), opt("AUTH", P(authAccount))});
}

void CLI::deleteMailboxes(const std::string& account, const std::string& mailboxes, const std::string& authAccount) {
    command("DeleteMailbox", {P(account), "MAILBOXES", Q(mailboxes), opt("AUTH", P(authAccount))});
}

void CLI::renameMailbox(const std::string& account, const std::string& mailbox, const std::string& newMailbox,
                        const std::string& authAccount) {
    command("RenameMailbox", {P(account), "MAILBOX", Q(mailbox), "INTO", Q(newMailbox), opt("AUTH", P(authAccount))});
}

void CLI::renameMailboxes(const std::string& account, const std::string& mailboxes, const std::string& newMailboxes,
                          const std::string& authAccount) {
    command("RenameMailbox",
            {P(account), "MAILBOXES", Q(mailboxes), "INTO", Q(newMailboxes), opt("AUTH", P(authAccount))});
}

DataSet CLI::listMailboxes(const std::string& account, const std::string& filter, const std::string& authAccount) {
    return dataQuery("ListMailboxes", {P(account), opt("FILTER", Q(filter)), opt("AUTH", P(authAccount))});
}

DataSet CLI::getMailboxInfo(const std::string& account, const std::string& mailbox, const std::string& authAccount) {
    return dataQuery("GetMailboxInfo", {P(account), "MAILBOX", Q(mailbox), opt("AUTH", P(authAccount))});
}

void CLI::updateMailboxInfo(const std::string& account, const std::string& mailbox, const DataSet& info) {
    command("UpdateMailboxInfo", {P(account), "MAILBOX", Q(mailbox), Dict(info)});
}

DataSet CLI::getMailboxACL(const std::string& account, const std::string& mailbox, const std::string& authAccount) {
    return dataQuery("GetMailboxACL", {P(account), "MAILBOX", Q(mailbox), opt("AUTH", P(authAccount))});
}

void CLI::setMailboxACL(const std::string& account, const std::string& mailbox, const DataSet& acl,
                        const std::string& authAccount) {
    command("SetMailboxACL", {P(account), "MAILBOX", Q(mailbox), opt("AUTH", P(authAccount)), Dict(acl)});
}

std::string CLI::getMailboxRights(const std::string& account, const std::string& mailbox,
                                  const std::string& authAccount) {
    return textQuery("GetMailboxRights", {P(account), "MAILBOX", Q(mailbox), "AUTH", P(authAccount)});
}

void CLI::setMailboxClass(const std::string& account, const std::string& mailbox, const std::string& mailboxClass,
                          const std::string& authAccount) {
    command("SetMailboxClass",
            {P(account), "MAILBOX", Q(mailbox), opt("AUTH", P(authAccount)), "CLASS", S(mailboxClass)});
}

DataSet CLI::getMailboxAliases(const std::string& account) { return dataQuery("GetMailboxAliases", {P(account)}); }

void CLI::setMailboxAliases(const std::string& account, const DataSet& aliases) {
    command("setMailboxAliases", {P(account), Dict(aliases)});
}

// ---- subscription ----

DataSet CLI::getAccountSubscription(const std::string& account) {
    return dataQuery("GetAccountSubscription", {P(account)});
}

void CLI::setAccountSubscription(const std::string& account, const DataSet& subscription) {
    command("SetAccountSubscription", {P(account), Array(subscription)});
}

// ---- forwarders and groups ----

void CLI::createForwarder(const std::string& forwarder, const std::string& address) {
    command("CreateForwarder", {P(forwarder), "to", P(address)});
}

void CLI::deleteForwarder(const std::string& forwarder) { command("DeleteForwarder", {P(forwarder)}); }

std::string CLI::getForwarder(const std::string& forwarder) { return textQuery("GetForwarder", {P(forwarder)}); }

DataSet CLI::listForwarders(const std::string& domain) { return dataQuery("ListForwarders", {opt(P(domain))}); }

void CLI::createGroup(const std::string& group, const DataSet& settings) {
    command("CreateGroup", {P(group), Dict(settings)});
}

void CLI::deleteGroup(const std::string& group) { command("DeleteGroup", {P(group)}); }

void CLI::renameGroup(const std::string& group, const std::string& newName) {
    command("RenameGroup", {P(group), "into", P(newName)});
}

DataSet CLI::getGroup(const std::string& group) { return dataQuery("GetGroup", {P(group)}); }

void CLI::setGroup(const std::string& group, const DataSet& settings) {
    command("SetGroup", {P(group), Dict(settings)});
}

DataSet CLI::listGroups(const std::string& domain) { return dataQuery("ListGroups", {opt(P(domain))}); }

// ---- mailing lists ----

void CLI::createList(const std::string& list, const std::string& owner) {
    command("CreateList", {P(list), "for", P(owner)});
}

void CLI::deleteList(const std::string& list) { command("deleteList", {P(list)}); }

void CLI::renameList(const std::string& list, const std::string& newName) {
    command("RenameList", {P(list), "into", P(newName)});
}

DataSet CLI::getList(const std::string& list) { return dataQuery("GetList", {P(list)}); }

void CLI::updateList(const std::string& list, const DataSet& settings) {
    command("UpdateList", {P(list), Dict(settings)});
}

DataSet CLI::listLists(const std::string& domain) { return dataQuery("ListLists", {opt(P(domain))}); }

DataSet CLI::getDomainLists(const std::string& domain) { return dataQuery("GetDomainLists", {opt(P(domain))}); }

DataSet CLI::getAccountLists(const std::string& account) { return dataQuery("GetAccountLists", {P(account)}); }

void CLI::list(const std::string& list, const std::string& operation, const std::string& address, bool silently,
               bool confirm) {
    command("List", {P(list), P(operation), flag("silently", silently), flag("confirm", confirm), P(address)});
}

DataSet CLI::listSubscribers(const std::string& list, const std::string& filter, int limit) {
    return dataQuery("ListSubscribers", {P(list), when(!filter.empty() || limit > 0, {"FILTER", Q(filter).unchecked()}),
                                         when(limit > 0, {N(limit)})});
}

DataSet CLI::getSubscriberInfo(const std::string& list, const std::string& subscriber) {
    return dataQuery("GetSubscriberInfo", {P(list), "NAME", P(subscriber)});
}

void CLI::setPostingMode(const std::string& list, const std::string& subscriber, const std::string& mode) {
    command("SetPostingMode", {P(list), "FOR", P(subscriber), P(mode)});
}

void CLI::processBounce(const std::string& account, bool fatal, const std::string& text) {
    command("ProcessBounce", {P(account), flag("FATAL", fatal), "FOR", Tail(text)});
}

// ---- read, change and store ----

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
