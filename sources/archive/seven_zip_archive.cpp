#include "sources/archive/seven_zip_archive.h"

#include "platform/text.h"
#include "platform/trace.h"
#include "sources/archive/alz_egg_reader.h"
#include "sources/archive/seven_zip_streams.h"

#include <dlfcn.h>

#include <cstring>

#include <mutex>

namespace sources::archive {

using namespace sevenzip;

namespace {

using CreateObjectFunction = HResult (*)(const Guid* classId, const Guid* interfaceId, void** object);
using VariantClearFunction = HResult (*)(PropVariant* variant);

struct Library {
    void* handle = nullptr;
    CreateObjectFunction createObject = nullptr;
    VariantClearFunction variantClear = nullptr;
};

// Debian's p7zip-full, then 7zip's own package, then whatever the loader finds.
constexpr const char* kLibraryFiles[] = {"/usr/lib/p7zip/7z.so", "/usr/lib/7zip/7z.so", "7z.so"};

const Library& TheLibrary() {
    static const Library library = [] {
        Library loaded;
        for (const char* file : kLibraryFiles) {
            void* handle = ::dlopen(file, RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr) {
                continue;
            }
            auto createObject = reinterpret_cast<CreateObjectFunction>(::dlsym(handle, "CreateObject"));
            if (createObject == nullptr) {
                ::dlclose(handle);
                continue;
            }
            loaded.handle = handle;
            loaded.createObject = createObject;
            // Variants are freed by the library that filled them.
            loaded.variantClear = reinterpret_cast<VariantClearFunction>(::dlsym(handle, "VariantClear"));
            break;
        }
        if (loaded.handle == nullptr) {
            platform::DebugTrace("7z.so not found\n");
        }
        return loaded;
    }();
    return library;
}

// A variant read from the library and cleared by it.
class Variant {
public:
    Variant() = default;
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() {
        const Library& library = TheLibrary();
        if (library.variantClear != nullptr) {
            library.variantClear(&value);
        }
    }
    PropVariant* operator&() { return &value; }
    const PropVariant& operator*() const { return value; }

private:
    PropVariant value;
};

std::string BstrToUtf8(Bstr text) {
    std::string out;
    if (text == nullptr) {
        return out;
    }
    uint32_t byteLength = 0;
    std::memcpy(&byteLength, reinterpret_cast<const char*>(text) - sizeof(uint32_t), sizeof(byteLength));
    const size_t length = byteLength / sizeof(wchar_t);
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const auto code = static_cast<uint32_t>(text[i]);
        const bool valid = code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        platform::AppendUtf8(out, valid ? static_cast<char32_t>(code) : U'\uFFFD');
    }
    return out;
}

// Hands the kept entries of one extraction call to a pass sink.
class PassExtractCallback final : public IArchiveExtractCallback {
public:
    explicit PassExtractCallback(PassSink& sink) : sink(sink) {}
    PassExtractCallback(const PassExtractCallback&) = delete;
    PassExtractCallback& operator=(const PassExtractCallback&) = delete;

    HResult QueryInterface(const Guid& iid, void** object) override {
        if (object == nullptr) {
            return kNoInterface;
        }
        if (iid == kIidArchiveExtractCallback || iid == kIidUnknown) {
            *object = this;
            AddRef();
            return kOk;
        }
        *object = nullptr;
        return kNoInterface;
    }
    uint32_t AddRef() override { return references.fetch_add(1) + 1; }
    uint32_t Release() override {
        const uint32_t left = references.fetch_sub(1) - 1;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HResult SetTotal(uint64_t) override { return kOk; }
    HResult SetCompleted(const uint64_t*) override { return sink.Cancelled() ? kAbort : kOk; }
    HResult GetStream(uint32_t index, ISequentialOutStream** outStream, int32_t askExtractMode) override {
        if (outStream == nullptr) {
            return kOk;
        }
        *outStream = nullptr;
        current.reset();
        if (askExtractMode != kAskExtract) {
            return kOk;
        }
        switch (sink.Begin(index)) {
        case PassSink::Decision::Abort:
            return kAbort;
        case PassSink::Decision::Skip:
            return kOk;
        case PassSink::Decision::Keep:
            break;
        }
        currentIndex = index;
        current = std::make_unique<std::vector<uint8_t>>();
        *outStream = new MemoryOutStream(current.get(), kMaxArchiveEntryBytes);
        return kOk;
    }
    HResult PrepareOperation(int32_t) override { return sink.Cancelled() ? kAbort : kOk; }
    HResult SetOperationResult(int32_t result) override {
        if (current) {
            sink.Finish(currentIndex, std::move(*current), result == kOperationOk);
            current.reset();
        }
        return kOk;
    }

private:
    ~PassExtractCallback() = default;
    std::atomic<uint32_t> references{1};
    PassSink& sink;
    uint32_t currentIndex = 0;
    std::unique_ptr<std::vector<uint8_t>> current;
};

class SevenZipBackend final : public ArchiveBackend {
public:
    SevenZipBackend(ComPtr<IInArchive> archive, ComPtr<FileInStream> stream)
        : archive(std::move(archive)), stream(std::move(stream)) {}
    ~SevenZipBackend() override {
        if (archive) {
            archive->Close();
        }
    }

    void ReadItems() {
        uint32_t count = 0;
        if (archive->GetNumberOfItems(&count) < 0) {
            count = 0;
        }
        items.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            ListedItem item;
            item.index = i;
            {
                Variant path;
                if (archive->GetProperty(i, kPropertyPath, &path) < 0 || (*path).vt != kVtBstr) {
                    continue;
                }
                item.name = BstrToUtf8((*path).bstrValue);
            }
            {
                Variant directory;
                if (archive->GetProperty(i, kPropertyIsDirectory, &directory) >= 0 &&
                    (*directory).vt == kVtBool) {
                    item.isDirectory = (*directory).boolValue != 0;
                }
            }
            {
                Variant size;
                if (archive->GetProperty(i, kPropertySize, &size) >= 0) {
                    if ((*size).vt == kVtUi8) {
                        item.size = (*size).uint64Value;
                    } else if ((*size).vt == kVtUi4) {
                        item.size = (*size).uint32Value;
                    }
                }
            }
            items.push_back(std::move(item));
        }
        Variant solidProperty;
        solid = archive->GetArchiveProperty(kPropertySolid, &solidProperty) >= 0 &&
                (*solidProperty).vt == kVtBool && (*solidProperty).boolValue != 0;
    }

    const std::vector<ListedItem>& Items() const override { return items; }
    bool IsSolid() const override { return solid; }

    bool ExtractItem(uint32_t index, uint64_t expectedSize, std::vector<uint8_t>& bytes) override {
        bytes.clear();
        if (expectedSize > kMaxArchiveEntryBytes) {
            return false;
        }
        if (expectedSize != 0) {
            bytes.reserve(expectedSize);
        }
        ComPtr<MemoryExtractCallback> callback(
            new MemoryExtractCallback(index, &bytes, kMaxArchiveEntryBytes));
        const HResult result = archive->Extract(&index, 1, 0, callback.Get());
        return result >= 0 && callback->EntrySucceeded() && !bytes.empty();
    }

    void RunPass(const std::vector<uint32_t>& indices, PassSink& sink) override {
        if (indices.empty()) {
            return;
        }
        ComPtr<PassExtractCallback> callback(new PassExtractCallback(sink));
        archive->Extract(indices.data(), static_cast<uint32_t>(indices.size()), 0, callback.Get());
    }

private:
    ComPtr<IInArchive> archive;
    ComPtr<FileInStream> stream;
    std::vector<ListedItem> items;
    bool solid = false;
};

// The library's multi-threaded decoders hand out their first bytes only when a large block is done
// (for a solid 7z of comic pages, after most of the archive): one thread streams each page as soon as
// it is decoded, and the second core decodes images meanwhile.
void DecodeOnOneThread(IInArchive& archive) {
    ComPtr<ISetProperties> properties;
    if (archive.QueryInterface(kIidSetProperties, reinterpret_cast<void**>(properties.Receive())) != kOk ||
        !properties) {
        return;
    }
    const wchar_t* names[] = {L"mt"};
    PropVariant value;
    value.vt = kVtUi4;
    value.uint32Value = 1;
    properties->SetProperties(names, &value, 1);
}

} // namespace

LibraryStatus LoadSevenZipLibrary() {
    return TheLibrary().createObject != nullptr ? LibraryStatus::Loaded : LibraryStatus::Missing;
}

SevenZipOpenResult OpenSevenZipArchive(const std::string& path, uint8_t format,
                                       std::unique_ptr<ArchiveBackend>& backend) {
    backend.reset();
    const Library& library = TheLibrary();
    if (library.createObject == nullptr) {
        return SevenZipOpenResult::LibraryMissing;
    }
    const Guid classId = HandlerClassId(format);
    ComPtr<IInArchive> archive;
    void* object = nullptr;
    if (library.createObject(&classId, &kIidInArchive, &object) < 0 || object == nullptr) {
        return SevenZipOpenResult::NoHandler;
    }
    archive = ComPtr<IInArchive>(static_cast<IInArchive*>(object));
    DecodeOnOneThread(*archive.Get());

    ComPtr<FileInStream> stream(new FileInStream());
    if (!stream->Open(path)) {
        return SevenZipOpenResult::CannotOpenFile;
    }
    // S_FALSE (not this format) is no success either.
    ComPtr<OpenCallback> openCallback(new OpenCallback());
    if (archive->Open(stream.Get(), nullptr, openCallback.Get()) != kOk) {
        return SevenZipOpenResult::CannotRead;
    }
    auto opened = std::make_unique<SevenZipBackend>(std::move(archive), std::move(stream));
    opened->ReadItems();
    backend = std::move(opened);
    return SevenZipOpenResult::Opened;
}

} // namespace sources::archive
