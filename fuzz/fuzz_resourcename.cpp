// VISA resource strings as the operator types them. A name that parses has a
// canonical spelling that parses to the same resource; one that does not
// leaves nothing behind.
#include "fuzz/FuzzCheck.h"
#include "instruments/visa/ResourceName.h"

#include <cstdint>
#include <string>

using visa::ResourceName;

static bool sameResource(const ResourceName &a, const ResourceName &b)
{
    return a.kind == b.kind && a.board == b.board && a.host == b.host && a.port == b.port &&
           a.deviceName == b.deviceName && a.vendorId == b.vendorId && a.productId == b.productId &&
           a.serialNumber == b.serialNumber && a.usbInterface == b.usbInterface &&
           a.primaryAddress == b.primaryAddress && a.secondaryAddress == b.secondaryAddress &&
           a.devicePath == b.devicePath && a.logicalAddress == b.logicalAddress &&
           a.pxiBus == b.pxiBus && a.pxiDevice == b.pxiDevice && a.pxiFunction == b.pxiFunction &&
           a.pxiChassis == b.pxiChassis && a.pxiSlot == b.pxiSlot && a.canonical == b.canonical;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The layer gets a NUL-terminated string: whatever follows a NUL is not seen.
    const std::string text(reinterpret_cast<const char *>(data), size);
    ResourceName parsed;
    parsed.host = "left over";
    const ViStatus status = ResourceName::parse(text.c_str(), parsed);
    if (status != VI_SUCCESS) {
        FUZZ_CHECK(status == VI_ERROR_INV_RSRC_NAME);
        FUZZ_CHECK(sameResource(parsed, ResourceName()));
        return 0;
    }
    FUZZ_CHECK(!parsed.canonical.empty());
    ResourceName again;
    FUZZ_CHECK(ResourceName::parse(parsed.canonical.c_str(), again) == VI_SUCCESS);
    FUZZ_CHECK(sameResource(parsed, again));
    FUZZ_CHECK(parsed.interfaceType() != 0);
    // The canonical name spells its class out.
    const std::string suffix = std::string("::") + parsed.resourceClass();
    FUZZ_CHECK(parsed.canonical.size() > suffix.size() &&
               parsed.canonical.compare(parsed.canonical.size() - suffix.size(), suffix.size(),
                                        suffix) == 0);
    return 0;
}
