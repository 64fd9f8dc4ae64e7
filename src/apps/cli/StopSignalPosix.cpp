#include "StopSignal.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {
sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}
}  // namespace

CStopSignal::CStopSignal() {
  const sigset_t set = StopSet();
  if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
  m_bTaken = true;
  m_waitable = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (m_waitable < 0) Release();
}

CStopSignal::~CStopSignal() {
  // The mask stays: a second signal arriving on the way out must not kill
  // the process before it has returned its status.
  if (m_waitable >= 0) close(m_waitable);
}

int CStopSignal::Received() {
  if (m_nSignal != 0 || m_waitable < 0) return m_nSignal;
  signalfd_siginfo info;
  if (read(m_waitable, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) m_nSignal = static_cast<int>(info.ssi_signo);
  return m_nSignal;
}

void CStopSignal::Release() {
  if (!m_bTaken) return;
  const sigset_t set = StopSet();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  m_bTaken = false;
}
