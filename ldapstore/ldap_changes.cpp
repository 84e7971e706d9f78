// The changes a directory on a server is asked to make: a modify planned on the entry the
// session knows, sent at once or ahead of its answer, and a change whose answer was lost settled
// by reading the entry again; and an entry added.
#include <algorithm>
#include <chrono>
#include <thread>

#include "dirstore/entry_mapping.h"
#include "dirstore/ldif.h"
#include "ldapstore/ldap_store.h"

namespace tally::ldap {
namespace {

namespace store = tally::store;

// A short pause before a counter change is tried again, different for each writer so that two
// that met do not meet again at once.
void PauseBeforeAttempt(int attempt) {
    static thread_local std::uint32_t seed =
        static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    seed = seed * 1664525u + 1013904223u;
    const int limit = std::min(attempt + 1, 8) * 500;  // microseconds
    std::this_thread::sleep_for(std::chrono::microseconds((seed >> 8) % limit));
}

}  // namespace

LdapOutcome LdapStore::Write(const std::string& dn, const std::vector<LdapMod>& mods,
                             const std::vector<std::string>& readBack, LdapEntry* after,
                             bool* sent) const {
    *sent = false;
    std::optional<Clock::time_point> deadline;
    if (!Reconnect(deadline)) {
        return LdapOutcome{kLdapServerDown, lastProblem_};
    }
    *sent = true;
    LdapOutcome outcome = after != nullptr ? wire_->ModifyAndRead(dn, mods, readBack, *after)
                                           : wire_->Modify(dn, mods);
    if (outcome.ConnectionLost()) {
        wire_.reset();
    }
    return outcome;
}

LdapStore::LostChange LdapStore::SettleLostChange(const std::string& name,
                                                  const store::Entry& before,
                                                  const store::Entry& planned,
                                                  const std::vector<store::Change>& changes) {
    std::optional<Clock::time_point> deadline = RetryDeadline();
    if (!Reconnect(deadline)) {
        return LostChange::Unknown;
    }
    const Cached* now = Lookup(name, Fresh::Server);
    if (now == nullptr) {
        return LostChange::Unknown;
    }
    bool asPlanned = true;
    bool asBefore = true;
    for (const store::Change& change : changes) {
        const store::AttributeDef* definition = schema_.Attribute(change.attribute);
        if (definition == nullptr) {
            return LostChange::Unknown;
        }
        auto valuesIn = [&](const store::Entry& entry) {
            auto held = entry.attributes.find(definition->name);
            return held != entry.attributes.end() ? held->second : std::vector<std::string>{};
        };
        const std::vector<std::string> held = valuesIn(now->entry);
        asPlanned = asPlanned && held == valuesIn(planned);
        asBefore = asBefore && held == valuesIn(before);
    }
    if (asPlanned && !asBefore) {
        produced_.clear();
        for (const store::Change& change : changes) {
            const store::AttributeDef* definition = schema_.Attribute(change.attribute);
            auto held = now->entry.attributes.find(definition->name);
            produced_[definition->name] =
                held != now->entry.attributes.end() ? held->second : std::vector<std::string>{};
        }
        return LostChange::Made;
    }
    return asBefore && !asPlanned ? LostChange::NotMade : LostChange::Unknown;
}

store::Status LdapStore::PlanModify(const std::string& name,
                                    const std::vector<store::Change>& changes, Fresh fresh,
                                    PlannedModify& plan) const {
    plan = PlannedModify{};
    const Cached* cached = Lookup(name, fresh);
    if (cached == nullptr) {
        return lookupFailure_ != store::kOk ? lookupFailure_ : store::kNoSuchEntry;
    }
    plan.dn = cached->dn;
    // Of the entry before the change, only what the change touches is kept: it tells a lost
    // change from one not made.
    plan.before.objectClass = cached->entry.objectClass;
    for (const store::Change& change : changes) {
        const store::AttributeDef* definition = schema_.Attribute(change.attribute);
        auto held = definition != nullptr ? cached->entry.attributes.find(definition->name)
                                          : cached->entry.attributes.end();
        if (held != cached->entry.attributes.end()) {
            plan.before.attributes.insert(*held);
        }
    }
    // The changes are checked and planned on a copy, as the embedded store plans them: the
    // same refusals, and the same choice between increment and add. A change reads and writes
    // its own attribute alone, so the copy holds just those (KeepProduced puts them back).
    plan.working = plan.before;
    const store::DnOfName dnOf = [this](std::string_view value) { return RelativeDnOf(value); };
    std::vector<store::LdifMod> mods;
    for (const store::Change& change : changes) {
        store::Status status = store::PlanChange(schema_, plan.working, change, dnOf, mods);
        if (status != store::kOk) {
            return status;
        }
    }
    if (mods.empty()) {
        return store::kOk;
    }
    std::vector<LdapMod>& request = plan.request;
    request.reserve(mods.size() + 1);
    for (store::LdifMod& mod : mods) {
        const store::AttributeDef* definition = schema_.AttributeByLdapName(mod.attribute);
        std::vector<std::string> values = std::move(mod.values);
        if (definition->syntax == kDistinguishedName) {
            for (std::string& value : values) {
                value = WholeDn(value);
            }
        }
        switch (mod.op) {
            case store::ModOp::Add:
                plan.startedCounter = plan.startedCounter || definition->syntax == kCounter;
                plan.counted = plan.counted || definition->syntax == kCounter;
                request.push_back({LdapModOp::Add, mod.attribute, std::move(values)});
                break;
            case store::ModOp::Replace:
                request.push_back({LdapModOp::Replace, mod.attribute, std::move(values)});
                break;
            case store::ModOp::Delete:
                request.push_back({LdapModOp::Delete, mod.attribute, std::move(values)});
                break;
            case store::ModOp::Increment: {
                plan.counted = true;
                if (useIncrement_) {
                    request.push_back({LdapModOp::Increment, mod.attribute, std::move(values)});
                    plan.readBack.push_back(mod.attribute);
                    break;
                }
                // Without the increment: the value read goes, the sum comes, in one request
                // that the server refuses when the value read is no longer there.
                request.push_back({LdapModOp::Delete, mod.attribute,
                                   plan.before.attributes.at(definition->name)});
                request.push_back(
                    {LdapModOp::Add, mod.attribute, plan.working.attributes.at(definition->name)});
                break;
            }
        }
    }
    // A person gets the account class in the same request as its first account value.
    plan.addsClass = cached->lacksAccountClass;
    if (plan.addsClass) {
        if (!serverHasAccountClass_) {
            lastProblem_ = settings_.endpoint.url + ": " + cached->dn +
                           " cannot hold an account: the server's schema has no " + kAccountClass +
                           " class; load dirstore/schema/tallydesk.ldif";
            warnings_.assign(1, store::Problem{settings_.endpoint.url, 0, lastProblem_});
            return store::kIllegalAttribute;
        }
        request.insert(request.begin(), {LdapModOp::Add, "objectClass", {kAccountClass}});
    }
    return store::kOk;
}

store::Status LdapStore::Modify(std::string_view fullName,
                                const std::vector<store::Change>& changes) {
    produced_.clear();
    changeInDoubt_ = false;
    const std::string name(fullName);
    // A change that was not made because its connection went is sent again this many times.
    constexpr int kMostResent = 3;
    int resent = 0;
    for (int attempt = 0;; ++attempt) {
        PlannedModify plan;
        const store::Status planned =
            PlanModify(name, changes, attempt > 0 ? Fresh::Server : Fresh::Session, plan);
        if (planned != store::kOk || plan.request.empty()) {
            return planned;
        }
        // An increment's result is known only to the server, which returns it with the change
        // (the post-read control); every other change writes the values `working` holds.
        LdapEntry after;
        bool sent = false;
        const LdapOutcome outcome = Write(plan.dn, plan.request, plan.readBack,
                                          plan.readBack.empty() ? nullptr : &after, &sent);
        if (outcome.Ok()) {
            TakeProduced(changes, plan.working, plan.readBack, after);
            KeepProduced(name, changes, std::move(plan.working), plan.readBack, plan.addsClass);
            return store::kOk;
        }
        if ((outcome.code == kLdapBusy || outcome.code == kLdapUnavailable) &&
            ++resent <= kMostResent) {
            // The server answered that it made nothing: the same change, a little later.
            std::this_thread::sleep_for(std::chrono::milliseconds(500 * resent));
            --attempt;
            continue;
        }
        if (sent && outcome.FateOpen()) {
            // The server may have made the change before the connection went (or its answer,
            // which cannot be read, may say so): it is sent again only once the entry shows
            // that it was not made.
            switch (SettleLostChange(name, plan.before, plan.working, changes)) {
                case LostChange::Made:
                    KeepProduced(name, changes, std::move(plan.working), {}, plan.addsClass);
                    return store::kOk;
                case LostChange::NotMade:
                    if (++resent <= kMostResent) {
                        --attempt;  // not a meeting with another writer: the same try again
                        continue;
                    }
                    return Failed(outcome, "changing " + plan.dn);  // it was not made
                case LostChange::Unknown:
                    break;
            }
            return InDoubt(outcome, plan.dn);
        }
        // Another writer changed the value read, or started the counter first (the server
        // refuses a second value of a single-valued attribute as a constraint violation).
        const bool overtaken = outcome.code == kLdapNoSuchAttribute ||
                               outcome.code == kLdapTypeOrValueExists ||
                               (plan.startedCounter && outcome.code == kLdapConstraintViolation);
        // (Another writer may also have given a person the account class first.) An entry seen
        // in an earlier call may have gone or moved since: it is looked for again, once.
        const bool moved = outcome.code == kLdapNoSuchObject && attempt == 0;
        if (((plan.counted || plan.addsClass) && overtaken &&
             attempt + 1 < settings_.changeAttempts) ||
            moved) {
            if (!useIncrement_) {
                PauseBeforeAttempt(attempt);
            }
            continue;
        }
        return Failed(outcome, "changing " + plan.dn);
    }
}

store::Status LdapStore::InDoubt(const LdapOutcome& outcome, const std::string& dn) {
    Failed(outcome, "changing " + dn);
    lastProblem_ += wire_ ? "; whether the change was made cannot be told (the account "
                            "changed otherwise meanwhile)"
                          : "; the server did not come back within [Store] RetrySeconds, "
                            "so whether the change was made cannot be told";
    warnings_.assign(1, store::Problem{settings_.endpoint.url, 0, lastProblem_});
    changeInDoubt_ = true;
    return store::kUnavailable;
}

store::Status LdapStore::SendModify(std::string_view fullName,
                                    const std::vector<store::Change>& changes) {
    SentChange sent;
    sent.name.assign(fullName);
    sent.changes = changes;
    const std::string& name = sent.name;
    PlannedModify& plan = sent.plan;
    const store::Status planned = PlanModify(name, changes, Fresh::Session, plan);
    if (planned != store::kOk) {
        return planned;
    }
    // Only a change whose whole effect the server returns can go ahead of the answers before
    // it: increments with the post-read control. Anything else (delete-and-add of a counter
    // without the increment, which may have to be planned again) is made at once, in turn.
    const bool ahead = !plan.request.empty() && !plan.readBack.empty() && wire_ &&
                       wire_->SendsAhead() &&
                       std::all_of(plan.request.begin(), plan.request.end(), [](const LdapMod& m) {
                           return m.op == LdapModOp::Increment || m.attribute == "objectClass";
                       });
    if (!ahead) {
        sent.made = Modify(name, changes);
        sent.produced = produced_;
        sent.inDoubt = changeInDoubt_;
        sent.problem = lastProblem_;
        sentAhead_.push_back(std::move(sent));
        return store::kOk;
    }
    sent.connection = connections_;
    const LdapOutcome outcome = wire_->SendModifyAndRead(plan.dn, plan.request, plan.readBack);
    if (!outcome.Ok()) {
        // The request may have left before the connection went: its take settles it.
        wire_.reset();
    }
    sentAhead_.push_back(std::move(sent));
    return store::kOk;
}

store::Status LdapStore::TakeModify() {
    produced_.clear();
    changeInDoubt_ = false;
    if (sentAhead_.empty()) {
        return store::kUnavailable;
    }
    SentChange sent = std::move(sentAhead_.front());
    sentAhead_.pop_front();
    if (sent.made) {
        produced_ = std::move(sent.produced);
        changeInDoubt_ = sent.inDoubt;
        if (*sent.made != store::kOk) {
            lastProblem_ = sent.problem;
        }
        return *sent.made;
    }
    const PlannedModify& plan = sent.plan;
    LdapOutcome outcome{kLdapServerDown, "the connection went before the answer came"};
    LdapEntry after;
    const bool onItsConnection = wire_ && sent.connection == connections_;
    if (onItsConnection) {
        outcome = wire_->TakeModifyAnswer(after);
        if (outcome.ConnectionLost()) {
            wire_.reset();
        }
    }
    if (outcome.Ok()) {
        TakeProduced(sent.changes, plan.working, plan.readBack, after);
        KeepProduced(sent.name, sent.changes, std::move(sent.plan.working), plan.readBack,
                     plan.addsClass);
        return store::kOk;
    }
    if (!outcome.FateOpen()) {
        // The server made nothing: the change is made again in turn, planned afresh where it
        // met another writer, and refused in the same words where it is refused for good.
        return Modify(sent.name, sent.changes);
    }
    if (gaveUp_) {
        // The server stayed away for a whole retry already: the batch stops, and the changes
        // still on their way are settled by a later start instead of a retry each.
        return InDoubt(outcome, plan.dn);
    }
    switch (SettleLostChange(sent.name, plan.before, plan.working, sent.changes)) {
        case LostChange::Made:
            KeepProduced(sent.name, sent.changes, std::move(sent.plan.working), {}, plan.addsClass);
            return store::kOk;
        case LostChange::NotMade:
            return Modify(sent.name, sent.changes);
        case LostChange::Unknown:
            break;
    }
    return InDoubt(outcome, plan.dn);
}

void LdapStore::KeepProduced(const std::string& name, const std::vector<store::Change>& changes,
                             store::Entry&& working, const std::vector<std::string>& readBack,
                             bool addedClass) {
    auto seen = entries_.find(name);
    if (seen == entries_.end()) {
        return;
    }
    Cached& cached = seen->second;
    // `working` holds the attributes the changes touched, as they left them: one it lacks was
    // cleared.
    for (const store::Change& change : changes) {
        const store::AttributeDef* definition = schema_.Attribute(change.attribute);
        if (definition != nullptr && working.attributes.count(definition->name) == 0) {
            cached.entry.attributes.erase(definition->name);
        }
    }
    for (auto& [attribute, values] : working.attributes) {
        cached.entry.attributes.insert_or_assign(attribute, std::move(values));
    }
    for (const auto& [attribute, values] : produced_) {
        cached.entry.attributes[attribute] = values;
    }
    // An increment whose result the server did not return leaves a value nobody knows.
    for (const std::string& attribute : readBack) {
        const store::AttributeDef* definition = schema_.AttributeByLdapName(attribute);
        auto held = definition != nullptr ? produced_.find(definition->name) : produced_.end();
        cached.stale = cached.stale || held == produced_.end() || held->second.empty();
    }
    cached.lacksAccountClass = cached.lacksAccountClass && !addedClass;
    cached.call = call_;
}

void LdapStore::TakeProduced(const std::vector<store::Change>& changes, const store::Entry& working,
                             const std::vector<std::string>& readBack, const LdapEntry& after) {
    for (const store::Change& change : changes) {
        const store::AttributeDef* definition = schema_.Attribute(change.attribute);
        if (definition == nullptr || produced_.count(definition->name) != 0) {
            continue;
        }
        const bool incremented =
            std::any_of(readBack.begin(), readBack.end(), [&](const std::string& attribute) {
                return store::EqualsIgnoreCase(attribute, definition->ldapName);
            });
        if (!incremented) {
            auto held = working.attributes.find(definition->name);
            produced_[definition->name] =
                held != working.attributes.end() ? held->second : std::vector<std::string>{};
            continue;
        }
        for (const auto& [attribute, values] : after.attributes) {
            if (!store::EqualsIgnoreCase(attribute, definition->ldapName)) {
                continue;
            }
            std::vector<std::string>& taken = produced_[definition->name];
            for (const std::string& value : values) {
                std::string stored;
                if (store::StoredValueOf(schema_, *definition, value, stored) == store::kOk) {
                    taken.push_back(std::move(stored));
                }
            }
        }
    }
}

store::Status LdapStore::AddEntry(const store::Entry& entry) {
    std::vector<std::string> parts;
    if (!store::SplitTypeless(entry.name, parts)) {
        return store::kIllegalName;
    }
    const store::ClassDef* objectClass = schema_.ObjectClass(entry.objectClass);
    const store::AttributeDef* naming =
        objectClass != nullptr ? schema_.NamingAttribute(*objectClass) : nullptr;
    if (naming == nullptr) {
        return store::kNoSuchClass;
    }
    std::string dn = store::FormatRdn({naming->ldapName, parts.front()});
    const std::string parent = store::ParentName(entry.name);
    if (!parent.empty()) {
        const Cached* container = Lookup(parent, Fresh::Session);
        if (container == nullptr) {
            return lookupFailure_ != store::kOk ? lookupFailure_ : store::kNoSuchEntry;
        }
        dn += "," + container->dn;
    } else if (!settings_.base.empty()) {
        dn += "," + settings_.base;
    }
    std::vector<LdapMod> attributes;
    attributes.push_back({LdapModOp::Add, "objectClass", {objectClass->ldapName}});
    attributes.push_back({LdapModOp::Add, naming->ldapName, {parts.front()}});
    const store::DnOfName dnOf = [this](std::string_view value) { return RelativeDnOf(value); };
    for (const auto& [attribute, values] : entry.attributes) {
        const store::AttributeDef* definition = schema_.Attribute(attribute);
        if (definition == nullptr) {
            return store::kNoSuchAttribute;
        }
        if (definition == naming || definition->name == store::kObjectClassAttribute) {
            continue;
        }
        LdapMod mod{LdapModOp::Add, definition->ldapName, {}};
        for (const std::string& value : values) {
            std::string text;
            store::Status status = store::LdapValueOf(schema_, *definition, value, dnOf, text);
            if (status != store::kOk) {
                return status;
            }
            mod.values.push_back(definition->syntax == kDistinguishedName ? WholeDn(text) : text);
        }
        attributes.push_back(std::move(mod));
    }
    if (!wire_ && !Connect(nullptr)) {
        return store::kUnavailable;
    }
    const LdapOutcome outcome = wire_->Add(dn, attributes);
    if (!outcome.Ok()) {
        if (outcome.ConnectionLost()) {
            wire_.reset();
        }
        return Failed(outcome, "adding " + dn);
    }
    absent_.erase(entry.name);
    return store::kOk;
}

}  // namespace tally::ldap
