#include "connection/CommandLock.h"

namespace vel {

void CommandLock::lock() {
  for (;;) {
    m_.lock();
    if (!reserved_.load()) return;
    m_.unlock();
    unreserved_.wait();
  }
}

void CommandLock::reserve() {
  unreserved_.reset();
  reserved_ = true;
}

void CommandLock::takeReserved() {
  m_.lock();
  dropReservation();
}

void CommandLock::dropReservation() {
  reserved_ = false;
  unreserved_.set();
}

}  // namespace vel
