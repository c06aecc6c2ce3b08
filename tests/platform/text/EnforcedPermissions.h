#pragma once

#include <initializer_list>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

// While alive, file permission bits bind this thread even when the tests run as root: the
// capabilities that override them are dropped from the effective set, and raised again at the
// end. Active() is false when they could not be dropped; the test should then skip.
class EnforcedPermissions
{
public:
    EnforcedPermissions()
    {
        if (::geteuid() != 0) {
            m_active = true;
            return;
        }
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        if (::syscall(SYS_capget, &header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
            reduced[cap / 32].effective &= ~(1u << (cap % 32));
        m_dropped = ::syscall(SYS_capset, &header, reduced) == 0;
        m_active = m_dropped;
    }
    ~EnforcedPermissions()
    {
        if (m_dropped) {
            __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
            ::syscall(SYS_capset, &header, m_saved);
        }
    }
    EnforcedPermissions(const EnforcedPermissions&) = delete;
    EnforcedPermissions& operator=(const EnforcedPermissions&) = delete;

    bool Active() const { return m_active; }

private:
    __user_cap_data_struct m_saved[2] = {};
    bool m_dropped = false;
    bool m_active = false;
};
