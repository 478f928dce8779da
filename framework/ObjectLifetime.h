// Worker threads get a pointer to an object that another thread owns and may destroy at any
// moment (a dialog closed by the user). They use the object only inside an Access. The owner
// calls Retire before the object goes: it waits for the accesses in progress and makes every
// later Access fail. While it waits it serves messages sent to its thread, so a worker that
// is inside SendMessage to the owner's windows is never deadlocked.
// Accesses must be short: never hold one across network or disk waits.
#pragma once

class ObjectLifetime {
public:
    static void Begin(const void* object);
    static void Retire(const void* object);

    class Access {
    public:
        explicit Access(const void* object);
        ~Access();
        Access(const Access&) = delete;
        Access& operator=(const Access&) = delete;
        explicit operator bool() const { return m_object != nullptr; }

    private:
        const void* m_object;
    };
};
