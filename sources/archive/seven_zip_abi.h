#pragma once

#include <cstdint>

// The binary interface of 7-Zip's shared library as built for this system (7z.so): COM-style
// interfaces whose IUnknown has no virtual destructor, HRESULTs of 32 bits, UTF-32 BSTRs preceded by
// their byte length, and 16-byte PROPVARIANTs. Only the parts the archive bridge uses are declared;
// every virtual function is declared in its slot order and must stay so.
namespace sources::archive::sevenzip {

using HResult = int32_t;

inline constexpr HResult kOk = 0;
inline constexpr HResult kFalse = 1;
inline constexpr HResult kNoInterface = static_cast<HResult>(0x80004002u);
inline constexpr HResult kAbort = static_cast<HResult>(0x80004004u);
inline constexpr HResult kFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kOutOfMemory = static_cast<HResult>(0x8007000Eu);

// A system error number as an HRESULT of the Win32 facility.
constexpr HResult HResultFromError(int code) {
    return static_cast<HResult>(0x80070000u | (static_cast<uint32_t>(code) & 0xFFFFu));
}

struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

bool operator==(const Guid& a, const Guid& b);

// Interface ids: {23170F69-40C1-278A-0000-00gg00ii0000} for group g and interface i.
constexpr Guid InterfaceId(uint8_t group, uint8_t id) {
    return Guid{0x23170F69, 0x40C1, 0x278A, {0, 0, 0, group, 0, id, 0, 0}};
}
// Archive handler class ids: {23170F69-40C1-278A-1000-000110ff0000} for format f.
constexpr Guid HandlerClassId(uint8_t format) {
    return Guid{0x23170F69, 0x40C1, 0x278A, {0x10, 0, 0, 0x01, 0x10, format, 0, 0}};
}

inline constexpr Guid kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr Guid kIidSequentialInStream = InterfaceId(0x03, 0x01);
inline constexpr Guid kIidSequentialOutStream = InterfaceId(0x03, 0x02);
inline constexpr Guid kIidInStream = InterfaceId(0x03, 0x03);
inline constexpr Guid kIidArchiveExtractCallback = InterfaceId(0x06, 0x20);
inline constexpr Guid kIidInArchive = InterfaceId(0x06, 0x60);
inline constexpr Guid kIidSetProperties = InterfaceId(0x06, 0x03);
inline constexpr Guid kIidArchiveOpenCallback = InterfaceId(0x06, 0x10);

// Format bytes of the handlers the bridge uses.
enum HandlerFormat : uint8_t {
    kFormatZip = 0x01,
    kFormatBzip2 = 0x02,
    kFormatRar = 0x03,
    kFormatLzh = 0x06,
    kFormat7z = 0x07,
    kFormatCab = 0x08,
    kFormatXz = 0x0C,
    kFormatRar5 = 0xCC,
    kFormatIso = 0xE7,
    kFormatTar = 0xEE,
    kFormatGzip = 0xEF,
};

// Property ids.
inline constexpr uint32_t kPropertyPath = 3;
inline constexpr uint32_t kPropertyIsDirectory = 6;
inline constexpr uint32_t kPropertySize = 7;
inline constexpr uint32_t kPropertySolid = 13;
inline constexpr uint32_t kPropertyEncrypted = 15;

// Variant types.
inline constexpr uint16_t kVtEmpty = 0;
inline constexpr uint16_t kVtBool = 11;
inline constexpr uint16_t kVtUi4 = 19;
inline constexpr uint16_t kVtUi8 = 21;
inline constexpr uint16_t kVtBstr = 8;

// BSTR: UTF-32 characters, terminated by 0, preceded by a 32-bit byte length.
using Bstr = wchar_t*;

struct PropVariant {
    uint16_t vt = kVtEmpty;
    uint16_t reserved1 = 0;
    uint16_t reserved2 = 0;
    uint16_t reserved3 = 0;
    union {
        int16_t boolValue; // VARIANT_TRUE is -1
        uint32_t uint32Value;
        uint64_t uint64Value;
        Bstr bstrValue;
    };
    PropVariant() : uint64Value(0) {}
};
static_assert(sizeof(PropVariant) == 16, "PROPVARIANT is 16 bytes on this system");

// Extraction modes and results.
inline constexpr int32_t kAskExtract = 0;
inline constexpr int32_t kOperationOk = 0;

class IUnknown {
public:
    virtual HResult QueryInterface(const Guid& iid, void** object) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
};

class ISequentialInStream : public IUnknown {
public:
    virtual HResult Read(void* data, uint32_t size, uint32_t* processedSize) = 0;
};

class IInStream : public ISequentialInStream {
public:
    virtual HResult Seek(int64_t offset, uint32_t seekOrigin, uint64_t* newPosition) = 0;
};

class ISequentialOutStream : public IUnknown {
public:
    virtual HResult Write(const void* data, uint32_t size, uint32_t* processedSize) = 0;
};

class IProgress : public IUnknown {
public:
    virtual HResult SetTotal(uint64_t total) = 0;
    virtual HResult SetCompleted(const uint64_t* completeValue) = 0;
};

class IArchiveExtractCallback : public IProgress {
public:
    virtual HResult GetStream(uint32_t index, ISequentialOutStream** outStream, int32_t askExtractMode) = 0;
    virtual HResult PrepareOperation(int32_t askExtractMode) = 0;
    virtual HResult SetOperationResult(int32_t operationResult) = 0;
};

class IArchiveOpenCallback : public IUnknown {
public:
    virtual HResult SetTotal(const uint64_t* files, const uint64_t* bytes) = 0;
    virtual HResult SetCompleted(const uint64_t* files, const uint64_t* bytes) = 0;
};

class IInArchive : public IUnknown {
public:
    virtual HResult Open(IInStream* stream, const uint64_t* maxCheckStartPosition,
                         IArchiveOpenCallback* openCallback) = 0;
    virtual HResult Close() = 0;
    virtual HResult GetNumberOfItems(uint32_t* numItems) = 0;
    virtual HResult GetProperty(uint32_t index, uint32_t propertyId, PropVariant* value) = 0;
    virtual HResult Extract(const uint32_t* indices, uint32_t numItems, int32_t testMode,
                            IArchiveExtractCallback* extractCallback) = 0;
    virtual HResult GetArchiveProperty(uint32_t propertyId, PropVariant* value) = 0;
};

class ISetProperties : public IUnknown {
public:
    virtual HResult SetProperties(const wchar_t* const* names, const PropVariant* values,
                                  uint32_t numProps) = 0;
};

} // namespace sources::archive::sevenzip
