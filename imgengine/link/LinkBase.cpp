#include "link/LinkBase.h"

#include <stdexcept>

#include "platform/Time.h"

namespace vel {

LinkBase::LinkBase(ByteStream& transport) : transport_(transport), ownToken_(platform::tickCount() | 1u) {}

std::unique_ptr<PortPair> LinkBase::openPortPair(int inputPort, int outputPort) {
  for (int number : {inputPort, outputPort})
    if (number < 0 || number >= kLinkPorts) throw std::out_of_range("link port number out of range");
  auto input = makePort(inputPort, true);
  auto output = makePort(outputPort, false);
  input->reset();
  output->reset();
  return std::make_unique<LinkPortPair>(std::move(input), std::move(output));
}

void LinkBase::registerPort(LinkPort* port) {
  ScopedLock lock(registrationLock_);
  if (port->number() >= 0 && port->number() < kLinkPorts) ports_[port->number()] = port;
}

void LinkBase::unregisterPort(LinkPort* port) {
  ScopedLock lock(registrationLock_);
  if (portAt(port->number()) == port) ports_[port->number()] = nullptr;
}

bool LinkBase::holds(const LinkPort* port) {
  ScopedLock lock(registrationLock_);
  return portAt(port->number()) == port;
}

void LinkPort::abort() {
  ScopedLock lock(registry_.registrationLock());
  aborts_.fetch_add(1);
  if (failed_.exchange(true)) return;
  registry_.unregisterPort(this);
  wakeWaiters();
}

void LinkBase::resetAllPorts() {
  ScopedLock lock(registrationLock_);
  LinkPort* ports[kLinkPorts];
  for (int i = 0; i < kLinkPorts; ++i) ports[i] = ports_[i];  // abort unregisters
  for (LinkPort* p : ports)
    if (p) p->abort();
}

void LinkBase::startWorkers(std::initializer_list<WorkerThread*> workers) {
  workers_.assign(workers);
  transport_.abort();
  for (WorkerThread* worker : workers_) worker->resume();
  ready_.wait();
}

void LinkBase::stopWorkers() {
  // Shutting down ends a resynchronisation loop; the stop flags are set before
  // the transport is aborted, so a worker woken by the abort leaves its loop.
  shuttingDown_ = true;
  for (WorkerThread* worker : workers_) worker->stop();
  wakeWorkers();
  transport_.abort();
  for (WorkerThread* worker : workers_) worker->join();
}

}  // namespace vel
