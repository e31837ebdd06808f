#include "sim/bootloader/driver/device_store.h"

#include "sim/bootloader/driver/control_codes.h"
#include "sim/bootloader/driver/kernel_headers.h"

namespace device_store {
namespace {

constexpr wchar_t kDirectory[] = L"\\??\\C:\\windows\\sorbel-sim";
constexpr const wchar_t* kStatePaths[sorbel_ctl::kBoards] = {
    L"\\??\\C:\\windows\\sorbel-sim\\state.bin", L"\\??\\C:\\windows\\sorbel-sim\\state2.bin",
    L"\\??\\C:\\windows\\sorbel-sim\\state3.bin", L"\\??\\C:\\windows\\sorbel-sim\\state4.bin"};
constexpr const wchar_t* kFlashPaths[sorbel_ctl::kBoards] = {
    L"\\??\\C:\\windows\\sorbel-sim\\flash.bin", L"\\??\\C:\\windows\\sorbel-sim\\flash2.bin",
    L"\\??\\C:\\windows\\sorbel-sim\\flash3.bin", L"\\??\\C:\\windows\\sorbel-sim\\flash4.bin"};
constexpr const wchar_t* kLogPaths[sorbel_ctl::kBoards] = {
    L"\\??\\C:\\windows\\sorbel-sim\\log.txt", L"\\??\\C:\\windows\\sorbel-sim\\log2.txt",
    L"\\??\\C:\\windows\\sorbel-sim\\log3.txt", L"\\??\\C:\\windows\\sorbel-sim\\log4.txt"};
constexpr uint32_t kMagic = 0x33534253;  // "SBS3"

struct Record {
  uint32_t magic;
  uint32_t page_size;
  uint32_t flash_size;
  int32_t blocks_until_failure;
  uint32_t closed;
  uint32_t strict_length;
  uint32_t unplugged;
  uint32_t locked;
  uint32_t delay_ms;
  uint32_t product_length;
  wchar_t product[sorbel_ctl::kMaxProductLength];
};

struct Files {
  HANDLE state, flash, log;
  uint64_t log_end;
};
Files files[sorbel_ctl::kBoards];

HANDLE OpenFile(const wchar_t* path, ULONG disposition, ULONG options) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, path);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                             nullptr);
  IO_STATUS_BLOCK io;
  HANDLE file = nullptr;
  NTSTATUS status =
      ZwCreateFile(&file, GENERIC_READ | GENERIC_WRITE | SYNCHRONIZE, &attributes, &io, nullptr,
                   FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition,
                   options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  return NT_SUCCESS(status) ? file : nullptr;
}

void ReopenEmpty(HANDLE& file, const wchar_t* path) {
  if (file != nullptr) ZwClose(file);
  file = OpenFile(path, FILE_OVERWRITE_IF, FILE_NON_DIRECTORY_FILE);
}

size_t ReadAt(HANDLE file, uint64_t offset, void* data, size_t size) {
  if (file == nullptr) return 0;
  IO_STATUS_BLOCK io;
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  NTSTATUS status = ZwReadFile(file, nullptr, nullptr, nullptr, &io, data, static_cast<ULONG>(size),
                               &position, nullptr);
  return NT_SUCCESS(status) ? io.Information : 0;
}

void WriteAt(HANDLE file, uint64_t offset, const void* data, size_t size) {
  if (file == nullptr || size == 0) return;
  IO_STATUS_BLOCK io;
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  ZwWriteFile(file, nullptr, nullptr, nullptr, &io, const_cast<void*>(data),
              static_cast<ULONG>(size), &position, nullptr);
}

uint64_t FileSize(HANDLE file) {
  FILE_STANDARD_INFORMATION info;
  IO_STATUS_BLOCK io;
  if (file == nullptr ||
      !NT_SUCCESS(ZwQueryInformationFile(file, &io, &info, sizeof(info), FileStandardInformation)))
    return 0;
  return static_cast<uint64_t>(info.EndOfFile.QuadPart);
}

}  // namespace

bool Open(uint32_t board, sorbel_sim::Bootloader& model, uint32_t product_capacity,
          Identity& identity, wchar_t* product) {
  HANDLE directory = OpenFile(kDirectory, FILE_OPEN_IF, FILE_DIRECTORY_FILE);
  if (directory == nullptr) return false;
  ZwClose(directory);
  Files& f = files[board];
  f.state = OpenFile(kStatePaths[board], FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE);
  f.flash = OpenFile(kFlashPaths[board], FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE);
  f.log = OpenFile(kLogPaths[board], FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE);
  f.log_end = FileSize(f.log);

  Record record{};
  if (ReadAt(f.state, 0, &record, sizeof(record)) != sizeof(record) || record.magic != kMagic ||
      record.product_length > product_capacity)
    return false;
  auto log = model.log;
  auto log_context = model.log_context;
  sorbel_sim::Reset(model, {record.page_size, record.flash_size});
  model.log = log;
  model.log_context = log_context;
  auto contents = sorbel_sim::Flash(model);
  ReadAt(f.flash, 0, model.flash.data(), contents.size());
  model.blocks_until_failure = record.blocks_until_failure;
  model.closed = record.closed != 0;
  identity.strict_length = record.strict_length != 0;
  identity.unplugged = record.unplugged != 0;
  identity.locked = record.locked != 0;
  identity.delay_ms = record.delay_ms;
  identity.product_length = record.product_length;
  for (uint32_t i = 0; i < record.product_length; ++i) product[i] = record.product[i];
  return true;
}

size_t ReadLog(uint32_t board, char* buffer, size_t capacity) {
  return ReadAt(files[board].log, 0, buffer, capacity);
}

void SaveState(uint32_t board, const sorbel_sim::Bootloader& model, Identity identity) {
  Record record{};
  record.magic = kMagic;
  record.page_size = model.settings.page_size;
  record.flash_size = model.settings.flash_size;
  record.blocks_until_failure = model.blocks_until_failure;
  record.closed = model.closed ? 1 : 0;
  record.strict_length = identity.strict_length ? 1 : 0;
  record.unplugged = identity.unplugged ? 1 : 0;
  record.locked = identity.locked ? 1 : 0;
  record.delay_ms = identity.delay_ms;
  record.product_length = identity.product_length;
  for (uint32_t i = 0; i < identity.product_length && i < sorbel_ctl::kMaxProductLength; ++i)
    record.product[i] = identity.product[i];
  WriteAt(files[board].state, 0, &record, sizeof(record));
}

void SaveAll(uint32_t board, const sorbel_sim::Bootloader& model, Identity identity) {
  Files& f = files[board];
  if (f.state == nullptr) return;
  ReopenEmpty(f.flash, kFlashPaths[board]);
  ReopenEmpty(f.log, kLogPaths[board]);
  f.log_end = 0;
  auto contents = sorbel_sim::Flash(model);
  WriteAt(f.flash, 0, contents.data(), contents.size());
  SaveState(board, model, identity);
}

void SaveBlock(uint32_t board, const sorbel_sim::Bootloader& model, uint32_t address) {
  auto contents = sorbel_sim::Flash(model);
  if (address < contents.size() && contents.size() - address >= sorbel_sim::kBlockSize)
    WriteAt(files[board].flash, address, contents.data() + address, sorbel_sim::kBlockSize);
}

void AppendLog(uint32_t board, std::string_view line) {
  Files& f = files[board];
  WriteAt(f.log, f.log_end, line.data(), line.size());
  WriteAt(f.log, f.log_end + line.size(), "\n", 1);
  f.log_end += line.size() + 1;
}

}  // namespace device_store
