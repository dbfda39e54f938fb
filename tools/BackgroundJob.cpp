#include "BackgroundJob.h"

#include <QProgressBar>
#include <QtConcurrent>

#include "RecordMetaTypes.h"

namespace z540k {

BackgroundJobBase::BackgroundJobBase(QWidget* parent, const JobBox& look) {
  box_ = new QProgressDialog(look.label, look.cancelText, 0, look.maximum, parent);
  QProgressDialog& box = *box_;
  box.setWindowTitle(look.title);
  if (!look.icon.isNull()) box.setWindowIcon(look.icon);
  if (look.fixedWidth > 0) box.setFixedWidth(look.fixedWidth);
  box.setMinimumDuration(look.minimumDurationMs);
  box.setWindowModality(look.modality);
  // The box closes when the job ends, not when its bar is full.
  box.setAutoReset(false);
  box.setAutoClose(false);
  box.setBar(new QProgressBar);
  box.setRange(0, look.maximum);
  box.setValue(0);  // shown from the event loop
  QObject::connect(&box, &QProgressDialog::canceled, &box, [this] { cancel_ = true; });
}

BackgroundJobBase::~BackgroundJobBase() {
  finishWorker();
  delete box_;
}

void BackgroundJobBase::start(std::function<void()> work, std::function<void(bool)> done) {
  watcher_ = new QFutureWatcher<void>;
  QObject::connect(watcher_, &QFutureWatcherBase::finished, box_, [this, done = std::move(done)] {
    // The watcher is the sender: it goes once its signal has been delivered.
    watcher_->deleteLater();
    watcher_ = nullptr;
    // Closing the box says "canceled": whether the operator cancelled is
    // taken before.
    const bool cancelled = cancel_;
    if (box_) box_->close();
    const std::function<void(bool)> finish = done;  // the job may go in it
    finish(cancelled);
  });
  watcher_->setFuture(QtConcurrent::run(std::move(work)));
}

std::function<void(int)> BackgroundJobBase::progressReporter() {
  QProgressBar* bar = box_ ? box_->findChild<QProgressBar*>() : nullptr;
  return [bar](int value) {
    if (bar) queueCall(bar, [bar, value] { bar->setValue(value); });
  };
}

void BackgroundJobBase::finishWorker() {
  cancel_ = true;
  if (!watcher_) return;
  watcher_->disconnect();
  watcher_->waitForFinished();
  delete watcher_;
  watcher_ = nullptr;
  // The worker's last writes (under the lock) come before the job goes.
  std::lock_guard<std::mutex> lock(resultMutex_);
}

}  // namespace z540k
