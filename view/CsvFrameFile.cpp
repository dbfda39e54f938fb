#include "CsvFrameFile.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace z540k {

// ---- CsvFrameFile ------------------------------------------------------------

namespace {

// Text that grows without being filled with zeros first (a std::string's
// resize would be).
class TextBuffer final : public CsvLineSink {
 public:
  const char* data() const { return bytes_.get(); }
  std::size_t size() const { return static_cast<std::size_t>(next - bytes_.get()); }
  void clear() { next = bytes_.get(); }
  void append(const char* text, std::size_t size) {
    if (static_cast<std::size_t>(end - next) < size) makeRoom(size);
    std::memcpy(next, text, size);
    next += size;
  }
  void makeRoom(std::size_t bytes) override {
    const std::size_t used = size();
    const std::size_t capacity = std::max({std::size_t{1} << 20, 2 * capacity_, used + bytes});
    std::unique_ptr<char[]> grown(new char[capacity]);  // not cleared: every byte used is written first
    if (used > 0) std::memcpy(grown.get(), bytes_.get(), used);
    bytes_ = std::move(grown);
    capacity_ = capacity;
    next = bytes_.get() + used;
    end = bytes_.get() + capacity;
  }

 private:
  std::unique_ptr<char[]> bytes_;
  std::size_t capacity_ = 0;
};

}  // namespace

// The frames on their way to the file. The caller's thread copies them into
// batches of some 32,000 measurements; threads of the writer's own turn each
// batch into text and write the texts in the order of the batches, at least
// 1 MiB per write(), so the formatting runs on every core while the caller
// decodes. A temporary file has its writeback started as it grows
// (sync_file_range), so the sync in finish() waits little past the last
// write. Where no thread can be had, the caller's thread does all of it.
// The first failed write ends the work: the batches still waiting are
// dropped unformatted and the caller sees failed() at its next frame.
class CsvFrameFile::Writer {
 public:
  Writer(int fd, bool startWriteback, const CsvExportOptions& options)
      : fd_(fd), startWriteback_(startWriteback), options_(options) {
    pending_.append(kCsvHeader, std::strlen(kCsvHeader));
    pending_.append("\n", 1);
    current_ = newBatch();
  }
  // Drops what is not written yet and closes the file.
  ~Writer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      dropping_ = ending_ = true;
      todo_.clear();
    }
    changed_.notify_all();
    for (std::thread& t : threads_) t.join();
    if (fd_ >= 0) ::close(fd_);
  }

  void add(const LidarDataSingleLine& record, CsvFrameKind kind, int frameId) {
    Batch& b = *current_;
    if (b.count == 0) b.firstFrame = frameId;
    if (b.count < b.records.size()) {
      b.records[b.count] = record;  // reuses the vectors' memory
      b.kinds[b.count] = kind;
    } else {
      b.records.push_back(record);
      b.kinds.push_back(kind);
    }
    ++b.count;
    b.measurements += record.pairedSize();
    if (b.measurements >= kBatchMeasurements || b.count >= kBatchFrames) submit();
  }

  // The lines of the frames added, once finish() returned.
  std::uint64_t lines() const { return lines_; }
  bool failed() const { return failed_.load(std::memory_order_acquire); }

  // Writes the rest, syncs the file when `sync` and closes it: 0, or the
  // errno of the first step that failed.
  int finish(bool sync) {
    submit();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ending_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
    if (error_ == 0 && pending_.size() > 0) record(writeAll(pending_.data(), pending_.size()));
    if (error_ == 0 && sync && ::fsync(fd_) != 0) error_ = errno;
    if (::close(fd_) != 0 && error_ == 0) error_ = errno;
    fd_ = -1;
    return error_;
  }

 private:
  // Measurements per batch: about 1.4 MB of text in view mode 1 (and frames
  // at most, should they be nearly empty).
  static constexpr std::size_t kBatchMeasurements = 1 << 15;
  static constexpr std::size_t kBatchFrames = 1024;
  // Text is written once this much is gathered (a batch's own is when it
  // holds that much), and at the end.
  static constexpr std::size_t kLeastWrite = 1 << 20;
  // Writeback is started for every 32 MiB written: the file system maps and
  // submits a large range for a fifth less system time than a write's worth
  // each time, and the sync at the end still waits for little.
  static constexpr std::uint64_t kWritebackRange = 32 << 20;

  struct Batch {
    std::vector<LidarDataSingleLine> records;  // the first `count` are the batch's; kept for their memory
    std::vector<CsvFrameKind> kinds;
    std::size_t count = 0;
    std::size_t measurements = 0;
    int firstFrame = 0;
    std::uint64_t sequence = 0;
    TextBuffer text;
  };

  std::unique_ptr<Batch> newBatch() {
    ++batches_;
    return std::make_unique<Batch>();
  }

  static void reset(Batch& b) {
    b.count = 0;
    b.measurements = 0;
    b.text.clear();
  }

  // The batch's text; returns its lines.
  std::uint64_t format(Batch& b, CsvRowMemo& memo) const {
    std::uint64_t lines = 0;
    for (std::size_t i = 0; i < b.count; ++i)
      lines += appendCsvFrame(b.text, b.records[i], b.firstFrame + static_cast<int>(i), options_, b.kinds[i], memo);
    return lines;
  }

  // Hands the batch being filled to the threads and takes an empty one,
  // waiting for one while all are in use.
  void submit() {
    if (current_->count == 0) return;
    if (failed()) {
      reset(*current_);  // the file is abandoned: nothing more goes to it
      return;
    }
    current_->sequence = submitted_++;
    if (!startThreads()) {
      if (!callerMemo_) callerMemo_ = std::make_unique<CsvRowMemo>();
      lines_ += format(*current_, *callerMemo_);
      record(put(*current_));
      reset(*current_);
      return;
    }
    std::unique_ptr<Batch> empty;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      todo_.push_back(std::move(current_));
      changed_.notify_all();
      if (spare_.empty() && batches_ < threads_.size() + 2) {
        empty = newBatch();
      } else {
        changed_.wait(lock, [this] { return !spare_.empty(); });
        empty = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    current_ = std::move(empty);
  }

  // Starts the threads (one per core, at most four) with every signal
  // blocked in them: signals stay the caller's. False when none can be had.
  bool startThreads() {
    if (!threads_.empty() || noThreads_) return !noThreads_;
    const unsigned count = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    sigset_t all, before;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &before);
    try {
      for (unsigned i = 0; i < count; ++i) threads_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      if (threads_.empty()) noThreads_ = true;
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return !noThreads_;
  }

  void work() {
    CsvRowMemo memo;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return !todo_.empty() || ending_; });
      if (todo_.empty()) return;
      std::unique_ptr<Batch> b = std::move(todo_.front());
      todo_.pop_front();
      // After a failed write (or when dropping) the batch is only recycled.
      const bool wanted = error_ == 0 && !dropping_;
      lock.unlock();
      const std::uint64_t lines = wanted ? format(*b, memo) : 0;
      lock.lock();
      lines_ += lines;
      // The texts go out in the order of their batches.
      changed_.wait(lock, [&] { return nextToWrite_ == b->sequence || dropping_; });
      if (!dropping_ && error_ == 0) {
        lock.unlock();
        const int e = put(*b);
        lock.lock();
        record(e);
      }
      ++nextToWrite_;
      reset(*b);
      spare_.push_back(std::move(b));
      changed_.notify_all();
    }
  }

  void record(int error) {
    if (error == 0 || error_ != 0) return;
    error_ = error;
    failed_.store(true, std::memory_order_release);
  }

  // A batch's text, in its turn: written at once when large enough,
  // else gathered with the next ones.
  int put(const Batch& b) {
    if (pending_.size() == 0 && b.text.size() >= kLeastWrite) return writeAll(b.text.data(), b.text.size());
    pending_.append(b.text.data(), b.text.size());
    if (pending_.size() < kLeastWrite) return 0;
    const int e = writeAll(pending_.data(), pending_.size());
    pending_.clear();
    return e;
  }

  // 0, or the errno of the failed write.
  int writeAll(const char* text, std::size_t size) {
    if (const int error = writeWhole(fd_, text, size)) return error;
    written_ += size;
    if (startWriteback_ && written_ - writebackStarted_ >= kWritebackRange) {
      ::sync_file_range(fd_, static_cast<off_t>(writebackStarted_), static_cast<off_t>(written_ - writebackStarted_),
                        SYNC_FILE_RANGE_WRITE);
      writebackStarted_ = written_;
    }
    return 0;
  }

  int fd_;
  const bool startWriteback_;
  const CsvExportOptions options_;
  // Used by whoever has the turn to write (a thread between its batch's turn
  // and the next, the caller before the threads start and after they end).
  TextBuffer pending_;
  std::uint64_t written_ = 0;
  // The lines formatted: the threads' under the mutex, the caller's while
  // no thread runs.
  std::uint64_t lines_ = 0;
  std::uint64_t writebackStarted_ = 0;
  int error_ = 0;
  std::atomic<bool> failed_{false};  // error_ set, for the caller between frames
  // The caller's.
  std::unique_ptr<Batch> current_;
  std::uint64_t submitted_ = 0;
  std::size_t batches_ = 0;
  bool noThreads_ = false;
  std::unique_ptr<CsvRowMemo> callerMemo_;  // when the caller formats
  std::vector<std::thread> threads_;
  // Shared, under the mutex.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Batch>> todo_;
  std::vector<std::unique_ptr<Batch>> spare_;
  std::uint64_t nextToWrite_ = 0;
  bool ending_ = false;
  bool dropping_ = false;
};

CsvFrameFile::CsvFrameFile(CsvExportOptions options, long long maxFrames) : FrameFile(maxFrames), options_(options) {}

CsvFrameFile::~CsvFrameFile() { discard(); }

bool CsvFrameFile::open(const std::string& path, std::string& error) {
  discard();
  const int fd = target_.create(path, true, error);
  if (fd < 0) return false;
  writer_ = std::make_unique<Writer>(fd, !target_.inPlace(), options_);
  return true;
}

void CsvFrameFile::writeFrame(const LidarDataSingleLine& record, CsvFrameKind kind) {
  if (!writer_ || complete() || writer_->failed()) return;
  ++frames_;
  writer_->add(record, kind, static_cast<int>(frames_));
}

bool CsvFrameFile::close(std::string& error) {
  if (!writer_) return true;
  // The data reaches the disk before the name points at it.
  const int e = writer_->finish(!target_.inPlace());
  lines_ = writer_->lines();
  writer_.reset();
  if (e != 0) {
    error = "writing " + target_.path() + " failed: " + std::strerror(e) + target_.unchangedNote();
    target_.abandon();
    return false;
  }
  return target_.commit(error);
}

bool CsvFrameFile::failed() const { return writer_ && writer_->failed(); }

void CsvFrameFile::discard() {
  writer_.reset();
  target_.abandon();
}

}  // namespace z540k
