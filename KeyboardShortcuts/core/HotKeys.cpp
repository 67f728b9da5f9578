#include "KeyboardShortcuts/core/HotKeys.h"

#include <vector>

namespace KeyboardShortcuts::HotKeys {

namespace {

struct Record
{
    Shortcut shortcut;
    bool claimed = false;
    Callback onKeyDown;
    Callback onKeyUp;
};

struct State
{
    HotKeyBackend *backend = nullptr;
    std::vector<Record> records;
    bool enabled = true;
    bool suspended = false;
};

State &state()
{
    static State s;
    return s;
}

// Without a backend records wait unclaimed until one is set.
bool active()
{
    return state().backend && state().enabled && !state().suspended;
}

bool claimedElsewhere(const Shortcut &shortcut, const Record *except)
{
    for (const Record &record : state().records)
        if (&record != except && record.claimed && record.shortcut == shortcut)
            return true;
    return false;
}

// Claims a record's combination; a second record of the same combination
// shares the first one's grab.
bool claim(Record &record)
{
    if (claimedElsewhere(record.shortcut, &record))
        return record.claimed = true;
    return record.claimed = state().backend->grab(record.shortcut);
}

void releaseAll()
{
    for (Record &record : state().records) {
        if (record.claimed && !claimedElsewhere(record.shortcut, &record))
            state().backend->ungrab(record.shortcut);
        record.claimed = false;
    }
}

void update()
{
    if (!active()) {
        if (state().backend)
            releaseAll();
        return;
    }
    auto &records = state().records;
    for (auto it = records.begin(); it != records.end();) {
        if (!it->claimed && !claim(*it))
            it = records.erase(it);
        else
            ++it;
    }
}

} // namespace

void setBackend(HotKeyBackend *backend)
{
    for (Record &record : state().records)
        record.claimed = false;
    state().backend = backend;
    update();
}

HotKeyBackend *backend()
{
    return state().backend;
}

void registerShortcut(const Shortcut &shortcut, Callback onKeyDown, Callback onKeyUp)
{
    Record record{shortcut, false, std::move(onKeyDown), std::move(onKeyUp)};
    // While suspended the record waits unclaimed; update() claims it later.
    if (active() && !claim(record))
        return;
    state().records.push_back(std::move(record));
}

void unregisterShortcut(const Shortcut &shortcut)
{
    auto &records = state().records;
    bool claimed = false;
    for (auto it = records.begin(); it != records.end();) {
        if (it->shortcut == shortcut) {
            claimed = claimed || it->claimed;
            it = records.erase(it);
        } else {
            ++it;
        }
    }
    if (claimed && state().backend)
        state().backend->ungrab(shortcut);
}

bool isRegistered(const Shortcut &shortcut)
{
    for (const Record &record : state().records)
        if (record.shortcut == shortcut)
            return true;
    return false;
}

bool hasRecords()
{
    return !state().records.empty();
}

bool handleHotKey(const Shortcut &shortcut, EventType type)
{
    for (const Record &record : state().records) {
        if (record.shortcut != shortcut)
            continue;
        // Copy: the callback may unregister the record.
        const Callback callback = type == EventType::keyDown ? record.onKeyDown : record.onKeyUp;
        if (callback)
            callback(shortcut);
        return true;
    }
    return false;
}

void setEnabled(bool enabled)
{
    if (state().enabled == enabled)
        return;
    state().enabled = enabled;
    update();
}

bool isEnabled()
{
    return state().enabled;
}

void setSuspended(bool suspended)
{
    if (state().suspended == suspended)
        return;
    state().suspended = suspended;
    update();
}

bool isTakenBySystem(const Shortcut &shortcut)
{
    return state().backend && state().backend->isHeldElsewhere(shortcut);
}

void reset()
{
    state().records.clear();
    state().enabled = true;
    state().suspended = false;
}

} // namespace KeyboardShortcuts::HotKeys
