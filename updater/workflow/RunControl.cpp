#include "RunControl.h"

#include "ObjectLifetime.h"

bool RunControl::StopRequested() const {
    ObjectLifetime::Access access(m_owner);
    return !access || m_running.load() == 0;
}

void RunControl::NewVersionInPlace() {
    ObjectLifetime::Access access(m_owner);
    if (access) m_inPlace = true;
}

void RunControl::End() {
    ObjectLifetime::Access access(m_owner);
    if (access) m_marker = nullptr;
}
