// One piece of work on a worker thread while a progress box shows how far it
// has come and lets the operator cancel it: opening a capture, waiting for
// the sensor's status frame.
//
// The work polls the cancel flag and reports progress through the function
// it is given (queued to the box's bar: the box's own setValue() would run
// the event loop inside the call). Its result is handed to the GUI thread
// under a mutex of the job's own (QFuture's result store hands it over under
// a lock of the Qt library that ThreadSanitizer does not see), and
// `finished` receives it there, once, with whether the job was cancelled.
// Destroying the job cancels it and waits for the worker before the box
// goes; `finished` is then not called.
#pragma once

#include <QFutureWatcher>
#include <QIcon>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace z540k {

// How the progress box looks.
struct JobBox {
  QString title;
  QString label;
  QString cancelText;  // empty: no Cancel button (the box's close still cancels)
  int maximum = 10;
  Qt::WindowModality modality = Qt::WindowModal;
  int minimumDurationMs = 0;
  int fixedWidth = 0;  // 0: the box's own width
  QIcon icon;
};

class BackgroundJobBase {
 public:
  BackgroundJobBase(const BackgroundJobBase&) = delete;
  BackgroundJobBase& operator=(const BackgroundJobBase&) = delete;
  virtual ~BackgroundJobBase();

  bool cancelled() const { return cancel_; }
  QProgressDialog* box() const { return box_; }

 protected:
  BackgroundJobBase(QWidget* parent, const JobBox& look);
  // Runs `work` on a worker thread; `done` then runs on the GUI thread.
  void start(std::function<void()> work, std::function<void(bool cancelled)> done);
  // The progress function the work is given.
  std::function<void(int)> progressReporter();
  // Ends the worker (cancelled) and waits for it.
  void finishWorker();

  std::atomic<bool> cancel_{false};
  std::mutex resultMutex_;

 private:
  QPointer<QProgressDialog> box_;
  QFutureWatcher<void>* watcher_ = nullptr;
};

template <typename Result>
class BackgroundJob : public BackgroundJobBase {
 public:
  using Work = std::function<Result(const std::atomic<bool>& cancel, const std::function<void(int)>& progress)>;
  using Finished = std::function<void(Result result, bool cancelled)>;

  BackgroundJob(QWidget* parent, const JobBox& look, Work work, Finished finished)
      : BackgroundJobBase(parent, look), finished_(std::move(finished)) {
    const std::function<void(int)> progress = progressReporter();
    start(
        [this, work = std::move(work), progress] {
          Result result = work(cancel_, progress);
          std::lock_guard<std::mutex> lock(resultMutex_);
          result_ = std::move(result);
        },
        [this](bool cancelled) {
          Result result;
          {
            std::lock_guard<std::mutex> lock(resultMutex_);
            result = std::move(result_);
          }
          // The callback may destroy the job: nothing of it is used after.
          const Finished finished = finished_;
          finished(std::move(result), cancelled);
        });
  }
  ~BackgroundJob() override { finishWorker(); }

 private:
  Finished finished_;
  Result result_{};
};

}  // namespace z540k
