#pragma once

#include "sources/archive/seven_zip_abi.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// The stream and callback objects the program hands to 7-Zip's library. Each starts with a reference
// count of 1, changed atomically; Release frees the object at 0. QueryInterface answers only the
// interfaces listed for the class.
namespace sources::archive::sevenzip {

// Owns one reference to a library object and releases it.
template <typename Interface> class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(Interface* object) : pointer(object) {} // adopts the reference
    ComPtr(const ComPtr& other) : pointer(other.pointer) {
        if (pointer != nullptr) {
            pointer->AddRef();
        }
    }
    ComPtr(ComPtr&& other) noexcept : pointer(other.pointer) { other.pointer = nullptr; }
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(pointer, other.pointer);
        return *this;
    }
    ~ComPtr() { Reset(); }

    void Reset() {
        if (pointer != nullptr) {
            pointer->Release();
            pointer = nullptr;
        }
    }
    Interface* Get() const { return pointer; }
    Interface* operator->() const { return pointer; }
    explicit operator bool() const { return pointer != nullptr; }
    // For out parameters: the previous object is released first.
    Interface** Receive() {
        Reset();
        return &pointer;
    }

private:
    Interface* pointer = nullptr;
};

// Reads the archive file: Read and Seek over a file descriptor, which Release closes.
class FileInStream final : public IInStream {
public:
    FileInStream() = default;
    FileInStream(const FileInStream&) = delete;
    FileInStream& operator=(const FileInStream&) = delete;

    // Opens the file for reading; false when it cannot be opened.
    bool Open(const std::string& path);

    HResult QueryInterface(const Guid& iid, void** object) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    HResult Read(void* data, uint32_t size, uint32_t* processedSize) override;
    HResult Seek(int64_t offset, uint32_t seekOrigin, uint64_t* newPosition) override;

private:
    ~FileInStream();
    std::atomic<uint32_t> references{1};
    int descriptor = -1;
};

// Appends what the library writes to a byte buffer owned by the caller, refusing to grow it past
// `maxBytes`, and stopping with E_ABORT once `cancel` (when given) is set.
class MemoryOutStream final : public ISequentialOutStream {
public:
    MemoryOutStream(std::vector<uint8_t>* destination, uint64_t maxBytes,
                    const std::atomic<bool>* cancel = nullptr);
    MemoryOutStream(const MemoryOutStream&) = delete;
    MemoryOutStream& operator=(const MemoryOutStream&) = delete;

    HResult QueryInterface(const Guid& iid, void** object) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    HResult Write(const void* data, uint32_t size, uint32_t* processedSize) override;

private:
    ~MemoryOutStream() = default;
    std::atomic<uint32_t> references{1};
    std::vector<uint8_t>* destination;
    uint64_t maxBytes;
    const std::atomic<bool>* cancel;
};

// Extracts one wanted entry into a byte buffer. Other entries the library offers get no stream. The
// library's verdict on the entry (data error, unsupported method, encrypted data) is kept, so a damaged
// entry is not mistaken for a good one.
class MemoryExtractCallback final : public IArchiveExtractCallback {
public:
    MemoryExtractCallback(uint32_t wantedIndex, std::vector<uint8_t>* destination, uint64_t maxBytes);
    MemoryExtractCallback(const MemoryExtractCallback&) = delete;
    MemoryExtractCallback& operator=(const MemoryExtractCallback&) = delete;

    HResult QueryInterface(const Guid& iid, void** object) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    HResult SetTotal(uint64_t total) override;
    HResult SetCompleted(const uint64_t* completeValue) override;
    HResult GetStream(uint32_t index, ISequentialOutStream** outStream, int32_t askExtractMode) override;
    HResult PrepareOperation(int32_t askExtractMode) override;
    HResult SetOperationResult(int32_t operationResult) override;

    // The entry was handed a stream and the library reported it extracted cleanly.
    bool EntrySucceeded() const { return streamHandedOut && operationResult == kOperationOk; }

private:
    ~MemoryExtractCallback();
    std::atomic<uint32_t> references{1};
    uint32_t wantedIndex;
    std::vector<uint8_t>* destination;
    uint64_t maxBytes;
    MemoryOutStream* stream = nullptr; // one reference held
    bool streamHandedOut = false;
    int32_t operationResult = -1;
};

// Handed to the archive's Open. It offers no other volumes and no password: the zip handler, seeing a
// split-archive marker, asks the open callback for the next volume and fails on a null callback.
class OpenCallback final : public IArchiveOpenCallback {
public:
    OpenCallback() = default;
    OpenCallback(const OpenCallback&) = delete;
    OpenCallback& operator=(const OpenCallback&) = delete;

    HResult QueryInterface(const Guid& iid, void** object) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    HResult SetTotal(const uint64_t* files, const uint64_t* bytes) override;
    HResult SetCompleted(const uint64_t* files, const uint64_t* bytes) override;

private:
    ~OpenCallback() = default;
    std::atomic<uint32_t> references{1};
};

} // namespace sources::archive::sevenzip
