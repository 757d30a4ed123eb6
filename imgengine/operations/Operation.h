// What the host operation and the trigger operation share: the worker thread
// that reads a long response, the receiving side of the response (results into
// the operation's own store, then the shared one; image sections; exposure and
// presentation-mode reports into the configuration record), notifications to
// the registered window and thread, the status word and the cancel flag.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/WorkerThread.h"
#include "config/DeviceConfiguration.h"
#include "connection/DeviceConnection.h"
#include "connection/OperationSink.h"
#include "operations/CancelWatchdog.h"
#include "operations/OperationResponse.h"
#include "operations/Progress.h"
#include "operations/ResultReceiver.h"

namespace vel {

// The library's objects an operation writes into.
struct OperationTargets {
  SharedResults& results;
  DeviceConfiguration& configuration;
  SharedImages& images;
  CancelWatchdog& watchdog;
};

// A long response handed to an operation.
enum class RequestKind { Capture, PreviousBinary, PreviousGrey, PreviousGreyEx };
struct Request {
  RequestKind kind = RequestKind::Capture;
  ByteStream* stream = nullptr;
  uint8_t flags = 0;  // Capture: the operation flags of the response
  int32_t blockSize = 0;
  bool compressed = false;  // PreviousGreyEx: the compressed-grey flag to set first
};

class Operation : public OperationCallbacks, public ResponseSlots, public OperationSink {
 public:
  static constexpr int kWorkerPriority = 17000000;  // platform priority +2
  static constexpr size_t kWorkerStack = 0;         // the platform's default

  ~Operation() override;
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  void setProgressWindow(platform::Window window) { progress_.setWindow(window); }
  void setProgressThread(uint32_t threadId) { progress_.setThread(threadId); }
  uint16_t status() const { return progress_.status(); }
  // Asks a running transfer to stop and arms the watchdog on the calling thread;
  // nothing while no transfer runs. A transfer runs from its hand-over on, also
  // while the worker has not begun to read it.
  void cancel() { targets_.watchdog.cancel(kind_, cancel_); }
  // Asks a running transfer to stop at its next block, as a cancel does, but arms
  // no watchdog: the caller waits for transferRunning() to turn false itself.
  void askToStop() { targets_.watchdog.askToStop(kind_, cancel_); }
  bool transferRunning() { return targets_.watchdog.running(kind_); }
  // Takes the request back from a transfer that did not stop in time, before it is
  // aborted: a broken transfer publishes the results it received.
  void withdrawStop() { cancel_ = false; }
  // Aborts the running transfer and every later one: the operation is going.
  void abortTransfers() { targets_.watchdog.close(kind_); }
  // The imager's classification: time scaling of results, image building.
  void setClassification(int processorType, int sensorType);
  // The connection whose error flag a broken transfer sets (null: none).
  void setConnection(DeviceConnection* connection) { connection_ = connection; }

  // The connection hands a response over; each kind of operation accepts it its own way.
  void beginCapture(ByteStream& stream, uint8_t flags, int32_t blockSize) final;
  void beginPreviousBinary(ByteStream& stream, int32_t blockSize) final;
  void beginPreviousGrey(ByteStream& stream, int32_t blockSize) final;
  void beginPreviousGreyEx(ByteStream& stream, int32_t blockSize, bool compressed) final;

  void postProgress(int percent, OperationEvent event) override { progress_.postProgress(percent, event); }
  void postConfigurationChanged(ConfigurationChange reason) override { progress_.postConfigurationChanged(reason); }

  void exposureReport(uint16_t gain, uint16_t integrationTime, uint8_t illumination) override;
  void presentationMode(bool on) override;
  void setCompressed(bool compressed) override { targets_.images.setCompressed(compressed); }
  bool isCompressed() override { return targets_.images.compressed(); }
  void transferFailed() override;
  ResultSlots& results() override { return receiver_; }
  ImageSlots& images() override { return *images_; }

 protected:
  Operation(OperationKind kind, const OperationTargets& targets);

  // A derived operation starts the worker once it is built and stops it first
  // thing when it goes (a running transfer is aborted): the worker calls serve()
  // and workerLeaving().
  void startWorker() { worker_->resume(); }
  void stopWorker();
  void wake() { wake_.set(); }
  // A response handed over by the connection.
  virtual void accept(const Request& request) = 0;
  // One request the worker was woken for.
  virtual void serve() = 0;
  virtual void workerLeaving() {}

  // The cancel flag, read by a transfer's poll (which disarms the watchdog).
  bool pollCancel();
  const DeviceConfiguration& configuration() const { return targets_.configuration; }

  // Reads a request's response on the calling thread, under the watchdog since
  // its hand-over; a stream that failed marks the communication error. Answers
  // whether the run ended stopped or broken, or a section was rejected or failed
  // (Aborted) rather than done.
  bool runTransfer(const Request& request);

 private:
  // A response is handed over: the cancel flag is cleared and the transfer counts
  // as running from here on, then accept() takes it.
  void handOver(const Request& request);
  void workerLoop(WorkerThread& self);
  void parse(const Request& request);

  const OperationKind kind_;
  OperationTargets targets_;
  ProgressTargets progress_;
  std::atomic<bool> cancel_{false};
  bool transferFailed_ = false;  // the response could not begin (read by the run's own thread)
  std::atomic<DeviceConnection*> connection_{nullptr};
  ResultReceiver receiver_;
  std::unique_ptr<ImageSlots> images_;
  Event wake_{false};
  std::unique_ptr<WorkerThread> worker_;
};

}  // namespace vel
