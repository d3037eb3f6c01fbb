#include "readsession.h"

#include <utility>

namespace tessaly {

// The worker's side. Everything here outlives the session when the worker is still running.
struct ReadSession::Job final : marc::ReadSink {
  struct Batch {
    std::shared_ptr<const marc::RowBlock> rows;
    marc::TextEncoding encoding;
  };

  explicit Job(std::shared_ptr<marc::RecordReader> r) : reader(std::move(r)) {}

  std::shared_ptr<marc::RecordReader> reader;
  std::filesystem::path path;
  marc::ReadMode mode = marc::ReadMode::Stop;
  std::atomic<std::int64_t> bad{0};
  std::atomic<bool> stop{false};
  std::atomic<bool> ended{false};
  std::mutex mutex;
  std::vector<Batch> pending;  // under mutex
  // Written by the worker before ended.
  marc::ReadOutcome outcome;
  std::exception_ptr failure;  // what the read's own outcome does not hold
  std::chrono::steady_clock::duration elapsed{};
  bool fourByteSequences = false;

  bool AppendRows(std::shared_ptr<const marc::RowBlock> rows, std::int64_t) override {
    // A read stopped because the window closed; nobody is told.
    if (stop.load(std::memory_order_relaxed)) return false;
    Batch batch{std::move(rows), reader->Encoding()};
    const std::lock_guard lock(mutex);
    pending.push_back(std::move(batch));
    return true;
  }
  void PassedOver(const marc::BadRecord&) override { bad.fetch_add(1, std::memory_order_relaxed); }
  void Progress(std::int64_t) override {}
  void Elapsed(std::chrono::steady_clock::duration time) override { elapsed = time; }

  void Run() {
    try {
      outcome = reader->Read(path, *this, mode);
      fourByteSequences = reader->FourByteSequences();
    } catch (...) {
      failure = std::current_exception();
    }
    ended.store(true, std::memory_order_release);
  }
};

ReadSession::ReadSession(std::shared_ptr<marc::RecordReader> reader,
                         const std::filesystem::path& file, Workers& workers, marc::ReadMode mode)
    : job_(std::make_shared<Job>(std::move(reader))) {
  job_->path = file;
  job_->mode = mode;
  workers.Start([job = job_] { job->Run(); });
}

ReadSession::~ReadSession() { job_->stop = true; }

bool ReadSession::HandOver(BookList& list) {
  // Looked at before the rows are taken: rows come before the end.
  const bool ended = job_->ended.load(std::memory_order_acquire);
  std::vector<Job::Batch> batches;
  {
    const std::lock_guard lock(job_->mutex);
    batches.swap(job_->pending);
  }
  if (handOverFailure_) batches.clear();
  for (Job::Batch& b : batches) {
    const auto n = static_cast<std::int64_t>(b.rows->Size());
    list.Append(std::move(b.rows), b.encoding);
    rowsRead_ += n;
  }
  return ended;
}

bool ReadSession::FailHandOver(std::exception_ptr failure) {
  if (handOverFailure_) return false;
  handOverFailure_ = std::move(failure);
  job_->stop.store(true, std::memory_order_relaxed);
  return true;
}

std::exception_ptr ReadSession::Failure() const {
  return handOverFailure_ ? handOverFailure_ : job_->failure;
}

const marc::ReadOutcome& ReadSession::Outcome() const { return job_->outcome; }

std::int64_t ReadSession::BadRecords() const { return job_->bad.load(std::memory_order_relaxed); }

const std::filesystem::path& ReadSession::File() const { return job_->path; }

marc::ReadMode ReadSession::Mode() const { return job_->mode; }

std::chrono::steady_clock::duration ReadSession::Elapsed() const { return job_->elapsed; }

std::string_view ReadSession::EncodingName() const {
  if (job_->reader->Encoding() == marc::TextEncoding::Utf8) return "UTF-8";
  return job_->fourByteSequences ? "GB18030" : "GBK";
}

}  // namespace tessaly
