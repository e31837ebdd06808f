#include "sim/bootloader/driver/device_store.h"

#include "sim/bootloader/driver/control_codes.h"
#include "sim/bootloader/driver/kernel_headers.h"

namespace device_store {
namespace {

constexpr wchar_t kDirectory[] = L"\\??\\C:\\windows\\sorbel-sim";
constexpr wchar_t kStatePath[] = L"\\??\\C:\\windows\\sorbel-sim\\state.bin";
constexpr wchar_t kFlashPath[] = L"\\??\\C:\\windows\\sorbel-sim\\flash.bin";
constexpr wchar_t kLogPath[] = L"\\??\\C:\\windows\\sorbel-sim\\log.txt";
constexpr uint32_t kMagic = 0x32534253;  // "SBS2"

struct Record {
  uint32_t magic;
  uint32_t page_size;
  uint32_t flash_size;
  int32_t blocks_until_failure;
  uint32_t closed;
  uint32_t strict_length;
  uint32_t unplugged;
  uint32_t product_length;
  wchar_t product[sorbel_ctl::kMaxProductLength];
};

HANDLE state_file, flash_file, log_file;
uint64_t log_end;

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

bool Open(sorbel_sim::Bootloader& model, wchar_t* product, uint32_t product_capacity,
          uint32_t& product_length, bool& strict_length, bool& unplugged) {
  HANDLE directory = OpenFile(kDirectory, FILE_OPEN_IF, FILE_DIRECTORY_FILE);
  if (directory == nullptr) return false;
  ZwClose(directory);
  state_file = OpenFile(kStatePath, FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE);
  flash_file = OpenFile(kFlashPath, FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE);
  log_file = OpenFile(kLogPath, FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE);
  log_end = FileSize(log_file);

  Record record{};
  if (ReadAt(state_file, 0, &record, sizeof(record)) != sizeof(record) || record.magic != kMagic ||
      record.product_length > product_capacity)
    return false;
  auto log = model.log;
  auto log_context = model.log_context;
  sorbel_sim::Reset(model, {record.page_size, record.flash_size});
  model.log = log;
  model.log_context = log_context;
  auto contents = sorbel_sim::Flash(model);
  ReadAt(flash_file, 0, model.flash.data(), contents.size());
  model.blocks_until_failure = record.blocks_until_failure;
  model.closed = record.closed != 0;
  strict_length = record.strict_length != 0;
  unplugged = record.unplugged != 0;
  product_length = record.product_length;
  for (uint32_t i = 0; i < product_length; ++i) product[i] = record.product[i];
  return true;
}

size_t ReadLog(char* buffer, size_t capacity) { return ReadAt(log_file, 0, buffer, capacity); }

void SaveState(const sorbel_sim::Bootloader& model, Identity identity) {
  Record record{};
  record.magic = kMagic;
  record.page_size = model.settings.page_size;
  record.flash_size = model.settings.flash_size;
  record.blocks_until_failure = model.blocks_until_failure;
  record.closed = model.closed ? 1 : 0;
  record.strict_length = identity.strict_length ? 1 : 0;
  record.unplugged = identity.unplugged ? 1 : 0;
  record.product_length = identity.product_length;
  for (uint32_t i = 0; i < identity.product_length && i < sorbel_ctl::kMaxProductLength; ++i)
    record.product[i] = identity.product[i];
  WriteAt(state_file, 0, &record, sizeof(record));
}

void SaveAll(const sorbel_sim::Bootloader& model, Identity identity) {
  if (state_file == nullptr) return;
  ReopenEmpty(flash_file, kFlashPath);
  ReopenEmpty(log_file, kLogPath);
  log_end = 0;
  auto contents = sorbel_sim::Flash(model);
  WriteAt(flash_file, 0, contents.data(), contents.size());
  SaveState(model, identity);
}

void SaveBlock(const sorbel_sim::Bootloader& model, uint32_t address) {
  auto contents = sorbel_sim::Flash(model);
  if (address < contents.size() && contents.size() - address >= sorbel_sim::kBlockSize)
    WriteAt(flash_file, address, contents.data() + address, sorbel_sim::kBlockSize);
}

void AppendLog(std::string_view line) {
  WriteAt(log_file, log_end, line.data(), line.size());
  WriteAt(log_file, log_end + line.size(), "\n", 1);
  log_end += line.size() + 1;
}

}  // namespace device_store
