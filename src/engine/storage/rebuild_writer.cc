#include "storage/rebuild_writer.h"

#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "storage/bytes.h"
#include "storage/checksum.h"
#include "storage/table_file.h"

namespace dbe {

using namespace format;

// Sequential writer in pieces of 4 MB. Once a file grows past its first
// piece, the pieces are written by a thread of their own while the next one
// fills, so that sealing and checking rows never waits for the system to
// take the bytes (on a large table that copy costs as much as the sealing).
// One piece at most is being written; a failure is raised by the next call.
// A small table is written by the calling thread: no thread is started for
// it.
class RebuildWriter::Buffer {
 public:
  explicit Buffer(os::File* f) : f_(f) {}
  ~Buffer() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  uint64_t offset() const { return handed_ + buf_.size(); }
  void Append(const void* p, size_t n) {
    buf_.append(static_cast<const char*>(p), n);
    if (buf_.size() >= kPiece) Hand();
  }
  // Every byte appended is in the file when it returns.
  void Flush() {
    if (!thread_.joinable()) return WriteHere();
    Hand();
    std::unique_lock<std::mutex> lock(mu_);
    changed_.wait(lock, [this] { return !busy_; });
    RaiseFailure();
  }

 private:
  static constexpr size_t kPiece = 4u << 20;

  // Gives the filled piece to the writing thread once it has written the
  // one before.
  void Hand() {
    if (buf_.empty()) return;
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread([this] { WriteLoop(); });
      } catch (const std::system_error&) {
        return WriteHere();  // no thread to be had: written here, only slower
      }
    }
    {
      std::unique_lock<std::mutex> lock(mu_);
      changed_.wait(lock, [this] { return !busy_; });
      RaiseFailure();
      writing_.swap(buf_);
      writing_at_ = handed_;
      busy_ = true;
    }
    changed_.notify_all();
    handed_ += writing_.size();
    buf_.clear();
  }

  void WriteHere() {
    if (!buf_.empty()) f_->WriteAt(handed_, buf_.data(), buf_.size());
    handed_ += buf_.size();
    buf_.clear();
  }

  void WriteLoop() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      changed_.wait(lock, [this] { return busy_ || stop_; });
      if (!busy_) return;
      lock.unlock();
      std::exception_ptr failure;
      try {
        f_->WriteAt(writing_at_, writing_.data(), writing_.size());
        // The disk takes the piece while the next ones are made, so that the
        // flush at the end waits for little more than the last piece.
        f_->StartWriteback(writing_at_, writing_.size());
      } catch (...) {
        failure = std::current_exception();
      }
      lock.lock();
      if (failure && !failure_) failure_ = failure;
      busy_ = false;
      changed_.notify_all();
    }
  }

  // Called with mu_ held.
  void RaiseFailure() {
    if (failure_) std::rethrow_exception(failure_);
  }

  os::File* f_;
  std::string buf_;       // the piece being filled, at offset handed_
  uint64_t handed_ = 0;   // bytes given to the file or to the writing thread
  std::thread thread_;
  std::mutex mu_;
  std::condition_variable changed_;
  std::string writing_;   // the piece the thread writes, at writing_at_
  uint64_t writing_at_ = 0;
  bool busy_ = false;
  bool stop_ = false;
  std::exception_ptr failure_;
};

RebuildWriter::RebuildWriter(const std::string& kdt_new, const std::string& kdm_new, bool has_memo,
                             const std::string& header, const crypto::Key* key,
                             const std::array<uint8_t, 16>& table_id)
    : has_memo_(has_memo), kdm_new_(kdm_new), key_(key), table_id_(table_id) {
  data_ = os::File::Create(kdt_new);
  data_buf_ = std::make_unique<Buffer>(&data_);
  data_buf_->Append(header.data(), header.size());
  if (has_memo_) {
    memo_ = os::File::Create(kdm_new);
    memo_buf_ = std::make_unique<Buffer>(&memo_);
    const uint8_t blank[kMemoHeader] = {};
    memo_buf_->Append(blank, sizeof blank);
  }
}

RebuildWriter::~RebuildWriter() = default;

uint64_t RebuildWriter::AppendValue(std::string_view value) {
  std::string stored(value);
  if (key_ != nullptr) {
    stored.resize(value.size() + crypto::kOverhead);
    crypto::Seal(*key_, table_id_.data(), 16, reinterpret_cast<const uint8_t*>(value.data()), value.size(),
                 reinterpret_cast<uint8_t*>(stored.data()));
  }
  const uint64_t offset = memo_buf_->offset();
  const uint32_t capacity = static_cast<uint32_t>((stored.size() + kMemoAlign - 1) / kMemoAlign * kMemoAlign);
  uint8_t capacity_bytes[4];
  PutU32(capacity_bytes, capacity);
  memo_buf_->Append(capacity_bytes, 4);
  stored.resize(capacity, '\0');
  memo_buf_->Append(stored.data(), stored.size());
  return offset;
}

void RebuildWriter::AppendRow(const uint8_t* rec, uint32_t record_length) {
  ++rows_;
  if (key_ == nullptr) {
    data_buf_->Append(rec, record_length);
    uint8_t check[kRowChecksumSize];
    PutU32(check, RowChecksum(rows_, rec, record_length));
    data_buf_->Append(check, sizeof check);
    return;
  }
  // Rows to be sealed wait in a batch, sealed together on every core.
  if (!unsealed_.empty() && record_length != unsealed_length_) SealWaitingRows();
  unsealed_length_ = record_length;
  unsealed_.append(reinterpret_cast<const char*>(rec), record_length);
  if (unsealed_.size() >= kSealBatchBytes) SealWaitingRows();
}

void RebuildWriter::SealWaitingRows() {
  if (unsealed_.empty()) return;
  const uint32_t length = unsealed_length_;
  const size_t slot_size = length + crypto::kOverhead;
  const size_t count = unsealed_.size() / length;
  const auto* plain = reinterpret_cast<const uint8_t*>(unsealed_.data());
  slot_.resize(count * slot_size);
  auto* slots = reinterpret_cast<uint8_t*>(slot_.data());
  // The state byte stays in the clear; the rest of each record is sealed.
  for (size_t i = 0; i < count; ++i) slots[i * slot_size] = plain[i * length];
  crypto::SealMany(*key_, table_id_.data(), 16, plain + 1, length, length - 1, count, slots + 1, slot_size);
  data_buf_->Append(slots, slot_.size());
  unsealed_.clear();
}

void RebuildWriter::AppendMovedRow(const uint8_t* slot, uint32_t record_length, uint32_t from) {
  SealWaitingRows();
  ++rows_;
  if (!renumbering_) renumbering_ = std::make_unique<RowRenumbering>(record_length);
  uint8_t check[kRowChecksumSize];
  PutU32(check, renumbering_->Move(GetU32(slot + record_length), from, rows_));
  data_buf_->Append(slot, record_length);
  data_buf_->Append(check, sizeof check);
}

void RebuildWriter::AppendSlot(const uint8_t* slot, uint32_t size) {
  SealWaitingRows();
  ++rows_;
  data_buf_->Append(slot, size);
}

void RebuildWriter::Finish(const Counts& counts, const std::string& memo_copy) {
  SealWaitingRows();
  data_buf_->Flush();
  alignas(8) uint8_t image[kCountsEnd] = {};
  InitCounts(image, kTableVersion, counts, table_id_.data());
  data_.WriteAt(kOffCounts, image + kOffCounts, kCountsEnd - kOffCounts);
  data_.Sync();
  if (!has_memo_) return;
  if (!memo_copy.empty()) {
    memo_.Close();
    memo_ = os::File::Create(kdm_new_);
    const std::string whole = os::ReadWholeFile(memo_copy);
    memo_.WriteAt(0, whole.data(), whole.size());
  } else {
    memo_buf_->Flush();
    uint8_t header[kMemoHeader] = {};
    std::memcpy(header, kMemoMagic, 8);
    PutU32(header + 8, kVersion);
    PutU64(header + 16, memo_buf_->offset());
    std::memcpy(header + 24, table_id_.data(), 16);
    memo_.WriteAt(0, header, sizeof header);
  }
  memo_.Sync();
}

os::File RebuildWriter::TakeData() { return std::move(data_); }

}  // namespace dbe
