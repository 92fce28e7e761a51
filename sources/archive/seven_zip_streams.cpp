#include "sources/archive/seven_zip_streams.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace sources::archive::sevenzip {

bool operator==(const Guid& a, const Guid& b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, sizeof(a.data4)) == 0;
}

namespace {

// Hands out `self` for the listed interfaces, with one more reference.
template <typename Self>
HResult Answer(Self* self, const Guid& iid, void** object, std::initializer_list<Guid> answered) {
    if (object == nullptr) {
        return kNoInterface;
    }
    for (const Guid& known : answered) {
        if (iid == known) {
            *object = self;
            self->AddRef();
            return kOk;
        }
    }
    *object = nullptr;
    return kNoInterface;
}

uint32_t DropReference(std::atomic<uint32_t>& references) {
    return references.fetch_sub(1, std::memory_order_acq_rel) - 1;
}

} // namespace

// FileInStream

FileInStream::~FileInStream() {
    if (descriptor >= 0) {
        ::close(descriptor);
    }
}

bool FileInStream::Open(const std::string& path) {
    if (descriptor >= 0) {
        ::close(descriptor);
    }
    descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return descriptor >= 0;
}

HResult FileInStream::QueryInterface(const Guid& iid, void** object) {
    // Every interface shares the one vtable: IInStream begins with ISequentialInStream's slots.
    return Answer(this, iid, object, {kIidInStream, kIidSequentialInStream, kIidUnknown});
}

uint32_t FileInStream::AddRef() {
    return references.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t FileInStream::Release() {
    const uint32_t left = DropReference(references);
    if (left == 0) {
        delete this;
    }
    return left;
}

HResult FileInStream::Read(void* data, uint32_t size, uint32_t* processedSize) {
    if (processedSize != nullptr) {
        *processedSize = 0;
    }
    if (size == 0) {
        return kOk;
    }
    if (descriptor < 0) {
        return HResultFromError(EBADF);
    }
    ssize_t count = 0;
    do {
        count = ::read(descriptor, data, size);
    } while (count < 0 && errno == EINTR);
    if (count < 0) {
        return HResultFromError(errno);
    }
    if (processedSize != nullptr) {
        *processedSize = static_cast<uint32_t>(count);
    }
    return kOk;
}

HResult FileInStream::Seek(int64_t offset, uint32_t seekOrigin, uint64_t* newPosition) {
    if (descriptor < 0) {
        return HResultFromError(EBADF);
    }
    int whence = SEEK_SET;
    switch (seekOrigin) {
    case 0:
        whence = SEEK_SET;
        break;
    case 1:
        whence = SEEK_CUR;
        break;
    case 2:
        whence = SEEK_END;
        break;
    default:
        return HResultFromError(EINVAL);
    }
    const off_t position = ::lseek(descriptor, static_cast<off_t>(offset), whence);
    if (position < 0) {
        return HResultFromError(errno);
    }
    if (newPosition != nullptr) {
        *newPosition = static_cast<uint64_t>(position);
    }
    return kOk;
}

// MemoryOutStream

MemoryOutStream::MemoryOutStream(std::vector<uint8_t>* destination, uint64_t maxBytes,
                                 const std::atomic<bool>* cancel)
    : destination(destination), maxBytes(maxBytes), cancel(cancel) {}

HResult MemoryOutStream::QueryInterface(const Guid& iid, void** object) {
    return Answer(this, iid, object, {kIidSequentialOutStream, kIidUnknown});
}

uint32_t MemoryOutStream::AddRef() {
    return references.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t MemoryOutStream::Release() {
    const uint32_t left = DropReference(references);
    if (left == 0) {
        delete this;
    }
    return left;
}

HResult MemoryOutStream::Write(const void* data, uint32_t size, uint32_t* processedSize) {
    if (processedSize != nullptr) {
        *processedSize = 0;
    }
    if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
        return kAbort;
    }
    if (destination != nullptr && data != nullptr && size != 0) {
        if (uint64_t{size} > maxBytes || destination->size() > maxBytes - size) {
            return kOutOfMemory; // the entry is larger than any entry the viewer takes
        }
        const auto* bytes = static_cast<const uint8_t*>(data);
        destination->insert(destination->end(), bytes, bytes + size);
    }
    if (processedSize != nullptr) {
        *processedSize = size;
    }
    return kOk;
}

// MemoryExtractCallback

MemoryExtractCallback::MemoryExtractCallback(uint32_t wantedIndex, std::vector<uint8_t>* destination,
                                             uint64_t maxBytes)
    : wantedIndex(wantedIndex), destination(destination), maxBytes(maxBytes) {}

MemoryExtractCallback::~MemoryExtractCallback() {
    if (stream != nullptr) {
        stream->Release();
    }
}

HResult MemoryExtractCallback::QueryInterface(const Guid& iid, void** object) {
    return Answer(this, iid, object, {kIidArchiveExtractCallback, kIidUnknown});
}

uint32_t MemoryExtractCallback::AddRef() {
    return references.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t MemoryExtractCallback::Release() {
    const uint32_t left = DropReference(references);
    if (left == 0) {
        delete this;
    }
    return left;
}

HResult MemoryExtractCallback::SetTotal(uint64_t) {
    return kOk;
}

HResult MemoryExtractCallback::SetCompleted(const uint64_t*) {
    return kOk;
}

HResult MemoryExtractCallback::GetStream(uint32_t index, ISequentialOutStream** outStream,
                                         int32_t askExtractMode) {
    if (outStream == nullptr) {
        return kOk;
    }
    *outStream = nullptr;
    if (index != wantedIndex || askExtractMode != kAskExtract) {
        return kOk;
    }
    if (destination != nullptr) {
        destination->clear();
    }
    auto* created = new MemoryOutStream(destination, maxBytes);
    if (stream != nullptr) {
        stream->Release();
    }
    stream = created; // the creation reference
    created->AddRef();
    *outStream = created;
    streamHandedOut = true;
    return kOk;
}

HResult MemoryExtractCallback::PrepareOperation(int32_t) {
    return kOk;
}

HResult MemoryExtractCallback::SetOperationResult(int32_t result) {
    if (streamHandedOut) {
        operationResult = result;
    }
    return kOk;
}

// OpenCallback

HResult OpenCallback::QueryInterface(const Guid& iid, void** object) {
    return Answer(this, iid, object, {kIidArchiveOpenCallback, kIidUnknown});
}

uint32_t OpenCallback::AddRef() {
    return references.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t OpenCallback::Release() {
    const uint32_t left = DropReference(references);
    if (left == 0) {
        delete this;
    }
    return left;
}

HResult OpenCallback::SetTotal(const uint64_t*, const uint64_t*) {
    return kOk;
}

HResult OpenCallback::SetCompleted(const uint64_t*, const uint64_t*) {
    return kOk;
}

} // namespace sources::archive::sevenzip
