// The journal's record layout and replay; see operation_journal.h for the protocol.
#include "operation_journal.h"

#include <auralink/trace_utils.h>
#include <fcntl.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

constexpr uint32_t kHeaderSize = 8;
// A record larger than this is taken for damage rather than allocated.
constexpr uint32_t kMaxPayload = 256u * 1024u * 1024u;

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

uint32_t Crc32(const char* data, size_t size) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) c = kCrcTable[(c ^ static_cast<unsigned char>(data[i])) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void PutU32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void PutU64(std::string* out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
uint32_t GetU32(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}
uint64_t GetU64(const char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string EncodeRecord(const QueuedOperation& op) {
  std::string payload;
  PutU32(&payload, static_cast<uint32_t>(op.operation));
  PutU32(&payload, static_cast<uint32_t>(op.id.size()));
  payload += op.id;
  payload += op.stream;
  std::string record;
  PutU32(&record, static_cast<uint32_t>(payload.size()));
  PutU32(&record, Crc32(payload.data(), payload.size()));
  return record + payload;
}

// Checks the record at `at`; false when it is cut short or damaged, else `next` receives
// the offset just past it.
bool WholeRecordAt(const std::string& bytes, size_t at, size_t* next) {
  if (bytes.size() - at < kHeaderSize) return false;
  const uint32_t length = GetU32(bytes.data() + at);
  const uint32_t crc = GetU32(bytes.data() + at + 4);
  if (length < 8 || length > kMaxPayload || bytes.size() - at - kHeaderSize < length) return false;
  const char* payload = bytes.data() + at + kHeaderSize;
  if (Crc32(payload, length) != crc || GetU32(payload + 4) > length - 8) return false;
  *next = at + kHeaderSize + length;
  return true;
}

// True when whole records lead from the start of the journal exactly to `offset`.
bool OnRecordBoundary(const std::string& bytes, uint64_t offset) {
  size_t at = 0;
  size_t next = 0;
  while (at < offset && WholeRecordAt(bytes, at, &next)) at = next;
  return at == offset;
}

// Decodes the record at `at`; false when it is cut short or damaged.
bool DecodeRecord(const std::string& bytes, size_t at, QueuedOperation* op, size_t* next) {
  if (!WholeRecordAt(bytes, at, next)) return false;
  const uint32_t length = GetU32(bytes.data() + at);
  const char* payload = bytes.data() + at + kHeaderSize;
  const uint32_t idLength = GetU32(payload + 4);
  op->operation = static_cast<LONG>(GetU32(payload));
  op->id.assign(payload + 8, idLength);
  op->stream.assign(payload + 8 + idLength, length - 8 - idLength);
  op->journalEnd = *next;
  return true;
}

}  // namespace

OperationJournal::OperationJournal(std::string folder, std::string name, const JournalIo& io)
    : folder_(std::move(folder)), name_(std::move(name)), io_(io) {}

OperationJournal::~OperationJournal() {
  if (fd_ >= 0) io_.close(fd_);
}

int OperationJournal::Open(std::vector<QueuedOperation>* pending) {
  pending->clear();
  fd_ = io_.open(JournalPath().c_str(), O_RDWR | O_CREAT | O_APPEND, 0600);
  if (fd_ < 0) return 0;
  const std::string bytes = ReadWholeFile(JournalPath());
  size_ = bytes.size();

  uint64_t acknowledged = ReadAck();
  if (acknowledged > size_ || !OnRecordBoundary(bytes, acknowledged)) {
    // Past the end: left by a crash while the journal was being emptied. Inside a record:
    // an offset into records that are gone (or a foreign ack file). Either way nothing can
    // be trusted to be acknowledged, so everything is replayed; and the offset goes, since
    // appends would otherwise grow the journal under it (Append waits until it is gone).
    if (acknowledged <= size_)
      CTraceUtils::GetInstance()->LogMsg(0, "OperationJournal",
                                         "The acknowledged offset %llu in %s falls inside a record of %s; the "
                                         "journal is replayed from the start",
                                         static_cast<unsigned long long>(acknowledged), AckPath().c_str(),
                                         JournalPath().c_str());
    acknowledged = 0;
    RemoveAck();
  }

  size_t at = static_cast<size_t>(acknowledged);
  QueuedOperation op;
  size_t next = 0;
  while (at < bytes.size() && DecodeRecord(bytes, at, &op, &next)) {
    pending->push_back(op);
    at = next;
  }
  if (at < size_) {
    // A torn last record: cut it off, or the records appended after it would be lost
    // behind it at the next replay.
    if (io_.ftruncate(fd_, static_cast<long long>(at)) != 0 || io_.fsync(fd_) != 0) return 0;
    size_ = at;
  }
  if (pending->empty() && size_ > 0 && !Acknowledge(size_)) return 0;
  RestoreSetAside(pending);
  return 1;
}

void OperationJournal::RestoreSetAside(std::vector<QueuedOperation>* pending) {
  restored_ = 0;
  const std::string bytes = ReadWholeFile(SetAsidePath());
  size_t at = 0;
  QueuedOperation op;
  size_t next = 0;
  while (at < bytes.size() && DecodeRecord(bytes, at, &op, &next)) {
    // Into the journal first: emptying the set-aside file must not be their only copy.
    if (!Append(op, &op.journalEnd)) return;  // the file stays whole for the next start
    pending->push_back(op);
    ++restored_;
    at = next;
  }
  if (bytes.empty()) return;
  const int fd = io_.open(SetAsidePath().c_str(), O_WRONLY | O_TRUNC, 0600);
  if (fd < 0) return;
  io_.fsync(fd);
  io_.close(fd);
}

int OperationJournal::SetAside(const QueuedOperation& operation) {
  std::error_code absent;  // a file not there yet has nothing to keep
  const uintmax_t size = std::filesystem::file_size(SetAsidePath(), absent);
  const long long previousSize = absent ? 0 : static_cast<long long>(size);
  const int fd = io_.open(SetAsidePath().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (fd < 0) return 0;
  const bool written = WriteAll(fd, EncodeRecord(operation)) && io_.fsync(fd) == 0;
  // A half-written record would hide every record set aside after it.
  if (!written && io_.ftruncate(fd, previousSize) == 0) io_.fsync(fd);
  io_.close(fd);
  return written ? 1 : 0;
}

int OperationJournal::Append(const QueuedOperation& operation, uint64_t* end) {
  if (fd_ < 0 || (ackStale_ && !RemoveAck())) return 0;
  const std::string record = EncodeRecord(operation);
  if (!WriteAll(fd_, record) || io_.fsync(fd_) != 0) {
    // Best effort: a half-written record would end every later replay early.
    if (io_.ftruncate(fd_, static_cast<long long>(size_)) == 0) io_.fsync(fd_);
    return 0;
  }
  size_ += record.size();
  *end = size_;
  return 1;
}

int OperationJournal::Acknowledge(uint64_t end) {
  if (fd_ < 0) return 0;
  if (end < size_) return WriteAck(end);
  // Everything was accepted: empty the journal first, then remove the offset (the header
  // tells why in this order).
  if (io_.ftruncate(fd_, 0) != 0) return WriteAck(end);
  size_ = 0;
  ackStale_ = true;
  const bool synced = io_.fsync(fd_) == 0;
  return RemoveAck() && synced ? 1 : 0;
}

int OperationJournal::WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const long long n = io_.write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    done += static_cast<size_t>(n);
  }
  return 1;
}

int OperationJournal::WriteAck(uint64_t offset) {
  std::string bytes;
  PutU64(&bytes, offset);
  PutU32(&bytes, Crc32(bytes.data(), bytes.size()));
  const std::string temporary = AckPath() + ".tmp";
  const int fd = io_.open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return 0;
  const bool written = WriteAll(fd, bytes) && io_.fsync(fd) == 0;
  io_.close(fd);
  if (!written || io_.rename(temporary.c_str(), AckPath().c_str()) != 0) return 0;
  // The file now holds a boundary of the journal as it is. The rename itself is durable
  // only once the folder is synced; until then a crash brings back the file before, which
  // is harmless unless that one was stale.
  if (SyncFolder()) ackStale_ = false;
  return 1;
}

int OperationJournal::RemoveAck() {
  ackStale_ = true;
  if (io_.unlink(AckPath().c_str()) != 0 && errno != ENOENT) return 0;
  // Not gone for good until the folder is synced: a crash could bring the old offset back
  // under records appended meanwhile.
  if (!SyncFolder()) return 0;
  ackStale_ = false;
  return 1;
}

int OperationJournal::SyncFolder() { return io_.syncFolder(folder_.c_str()) == 0 ? 1 : 0; }

uint64_t OperationJournal::ReadAck() const {
  const std::string bytes = ReadWholeFile(AckPath());
  if (bytes.size() != 12 || Crc32(bytes.data(), 8) != GetU32(bytes.data() + 8)) return 0;
  return GetU64(bytes.data());
}
