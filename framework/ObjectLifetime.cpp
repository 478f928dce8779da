#include "ObjectLifetime.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

struct LiveObject {
    const void* object;
    int accesses;
    bool retiring;
};

// The registry outlives every object and thread that uses it: it is never destroyed, so a
// worker still running while the process exits finds it intact.
struct Registry {
    SRWLOCK lock = SRWLOCK_INIT;
    std::vector<LiveObject> objects;

    LiveObject* Find(const void* object) {
        auto it = std::find_if(objects.begin(), objects.end(),
                               [object](const LiveObject& o) { return o.object == object; });
        return it == objects.end() ? nullptr : &*it;
    }
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

class Locked {
public:
    explicit Locked(Registry& r) : m_registry(r) { AcquireSRWLockExclusive(&r.lock); }
    ~Locked() { ReleaseSRWLockExclusive(&m_registry.lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    Registry& m_registry;
};

// Lets messages sent from other threads to this thread's windows run while we wait.
void ServeSentMessages(DWORD milliseconds) {
    MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds, QS_SENDMESSAGE, 0);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

}  // namespace

void ObjectLifetime::Begin(const void* object) {
    Registry& registry = TheRegistry();
    Locked locked(registry);
    if (!registry.Find(object)) registry.objects.push_back({object, 0, false});
}

void ObjectLifetime::Retire(const void* object) {
    Registry& registry = TheRegistry();
    for (;;) {
        {
            Locked locked(registry);
            LiveObject* live = registry.Find(object);
            if (!live) return;
            live->retiring = true;
            if (live->accesses == 0) {
                registry.objects.erase(registry.objects.begin() + (live - registry.objects.data()));
                return;
            }
        }
        ServeSentMessages(5);
    }
}

ObjectLifetime::Access::Access(const void* object) : m_object(nullptr) {
    Registry& registry = TheRegistry();
    Locked locked(registry);
    LiveObject* live = registry.Find(object);
    if (!live || live->retiring) return;
    ++live->accesses;
    m_object = object;
}

ObjectLifetime::Access::~Access() {
    if (!m_object) return;
    Registry& registry = TheRegistry();
    Locked locked(registry);
    if (LiveObject* live = registry.Find(m_object)) --live->accesses;
}
