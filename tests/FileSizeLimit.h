#pragma once
// A full disk on demand, without root or a mount: while alive, this process
// may not write a regular file beyond `bytes` (RLIMIT_FSIZE). SIGXFSZ is
// ignored meanwhile, so such a write fails with EFBIG as a write to a full
// filesystem fails with ENOSPC, instead of ending the process. Pipes (the
// test's output) are not limited.
#include <sys/resource.h>

#include <csignal>

class CFileSizeLimit {
public:
    explicit CFileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_previous);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~CFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_handler);
    }
    CFileSizeLimit(const CFileSizeLimit&) = delete;
    CFileSizeLimit& operator=(const CFileSizeLimit&) = delete;

    // False when the limit could not be set (the test cannot run).
    bool Active() const { return m_active; }

private:
    rlimit m_previous{};
    void (*m_handler)(int) = SIG_DFL;
    bool m_active = false;
};
