// The page set of each kind of device, with and without debug mode.
#include <gtest/gtest.h>

#include "gui/property_pages.h"

namespace {

using frm::property_pages::PageSet;
using frm::property_pages::pageSet;

TEST(PropertyPages, EachKindOfDeviceGetsItsPages) {
    const PageSet orvel510 = {1000, 1001, 1015, 1023};
    const PageSet loudspeaker = {1000, 1001, 1015, 1023, 1027, 1028};
    const PageSet linked = {1000, 1001, 1015, 1023, 1027, 1028, 1031};
    const PageSet console = {1000, 1001, 1015, 1023, 1029, 1030};
    struct Case {
        std::uint64_t type;
        int versionIndex;
        PageSet pages;  // without the debug page
    };
    // clang-format off
    const Case cases[] = {
        {0x300001, 8, orvel510},    {0x300002, 18, orvel510},  // the Orvel-510 rule comes first
        {0x500004, 17, loudspeaker}, {0x500004, 18, linked},    {0x1500040, 21, linked},
        {0x1101000, 17, loudspeaker}, {0x1804000, 0, console},  {0x1804000, 18, console},
        {0x0, 18, {}},               {0x400000, 21, {}},
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(pageSet(c.type, c.versionIndex, false), c.pages)
            << std::hex << c.type << " " << c.versionIndex;
        PageSet withDebug = c.pages;
        if (!withDebug.empty()) withDebug.push_back(1032);
        EXPECT_EQ(pageSet(c.type, c.versionIndex, true), withDebug)
            << std::hex << c.type << " " << c.versionIndex;
    }
}

}  // namespace
