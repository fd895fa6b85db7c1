// The program's images: every icon of the table draws at its size, ids
// outside the table draw nothing, the device states look different from each
// other, and a contact sheet of everything goes to the screenshot folder.
#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "base/static_tables.h"
#include "gui/icons.h"
#include "tests/gui/screenshot.h"

namespace {

wxImage iconImage(const std::string& name) {
    for (const auto& [id, info] : iconTable) {
        if (info.resource == name) return loadSvgBitmap(id).ConvertToImage();
    }
    ADD_FAILURE() << "no icon " << name;
    return {};
}

int opaquePixels(const wxImage& image, const wxRect& area) {
    int count = 0;
    for (int y = area.GetTop(); y <= area.GetBottom(); ++y) {
        for (int x = area.GetLeft(); x <= area.GetRight(); ++x) {
            if (image.GetAlpha(x, y) >= 250) ++count;
        }
    }
    return count;
}

struct Colour {
    double red = 0, green = 0, blue = 0;
};

Colour averageOpaqueColour(const wxImage& image) {
    Colour sum;
    int count = 0;
    for (int y = 0; y < image.GetHeight(); ++y) {
        for (int x = 0; x < image.GetWidth(); ++x) {
            if (image.GetAlpha(x, y) < 250) continue;
            sum.red += image.GetRed(x, y);
            sum.green += image.GetGreen(x, y);
            sum.blue += image.GetBlue(x, y);
            ++count;
        }
    }
    if (count > 0) sum = {sum.red / count, sum.green / count, sum.blue / count};
    return sum;
}

double distance(const Colour& a, const Colour& b) {
    return std::hypot(a.red - b.red, a.green - b.green, a.blue - b.blue);
}

bool samePixels(const wxImage& a, const wxImage& b) {
    const std::size_t bytes = static_cast<std::size_t>(a.GetWidth()) * a.GetHeight();
    return a.GetSize() == b.GetSize() && std::equal(a.GetData(), a.GetData() + 3 * bytes, b.GetData()) &&
           std::equal(a.GetAlpha(), a.GetAlpha() + bytes, b.GetAlpha());
}

}  // namespace

TEST(Icons, EveryIconDrawsAtItsSizeWithAnOpaqueMiddleAndOthersAreNull) {
    ASSERT_EQ(iconTable.size(), 24u);
    for (const auto& [id, info] : iconTable) {
        const wxBitmap bitmap = loadSvgBitmap(id);
        ASSERT_TRUE(bitmap.IsOk()) << info.resource;
        EXPECT_EQ(bitmap.GetSize(), wxSize(info.size, info.size)) << info.resource;
        const wxImage image = bitmap.ConvertToImage();
        ASSERT_TRUE(image.HasAlpha()) << info.resource;
        // A document the renderer ignores draws a clear square; ours cover
        // a good part of their middle.
        const int quarter = info.size / 4;
        const wxRect middle(quarter, quarter, info.size - 2 * quarter, info.size - 2 * quarter);
        EXPECT_GE(opaquePixels(image, middle), info.size) << info.resource;
    }
    EXPECT_FALSE(loadSvgBitmap(-1).IsOk());
    EXPECT_FALSE(loadSvgBitmap(24).IsOk());
}

TEST(Icons, DeviceStatesHaveTheirOwnColoursAndPlayingAddsToThem) {
    const std::vector<std::string> states = {"offline", "normal", "incoming", "error", "alarm"};
    for (const std::string device : {"speaker_", "microphone_"}) {
        std::vector<Colour> colours;
        for (const auto& state : states) colours.push_back(averageOpaqueColour(iconImage(device + state)));
        for (std::size_t i = 0; i < states.size(); ++i) {
            for (std::size_t j = i + 1; j < states.size(); ++j) {
                EXPECT_GT(distance(colours[i], colours[j]), 20.0)
                    << device << states[i] << " and " << states[j];
            }
        }
    }
    for (const std::string state : {"normal", "incoming", "error", "alarm"}) {
        EXPECT_FALSE(samePixels(iconImage("speaker_" + state), iconImage("speaker_" + state + "_play")))
            << state;
    }
}

TEST(Icons, ContactSheetOfIconsLogoAndApplicationIcon) {
    const wxBitmap logo = loadLogoBitmap();
    ASSERT_TRUE(logo.IsOk());
    EXPECT_EQ(logo.GetSize(), wxSize(144, 51));
    const wxImage logoImage = logo.ConvertToImage();
    int white = 0;
    for (int x = 0; x < logoImage.GetWidth(); ++x) {
        const int y = logoImage.GetHeight() / 2;
        if (logoImage.GetRed(x, y) > 240 && logoImage.GetGreen(x, y) > 240 && logoImage.GetBlue(x, y) > 240)
            ++white;
    }
    EXPECT_GT(white, 20) << "the word is missing from the logo";
    EXPECT_LT(logoImage.GetAlpha(0, 0), 128) << "the box has rounded corners";

    const wxIconBundle icons = loadApplicationIcons();
    ASSERT_EQ(icons.GetIconCount(), 6u);
    for (const int size : {16, 24, 32, 48, 64, 128}) {
        EXPECT_EQ(icons.GetIconOfExactSize(size).GetWidth(), size);
    }

    auto* frame = new wxFrame(nullptr, wxID_ANY, "icons");
    auto* panel = new wxPanel(frame);
    auto* grid = new wxFlexGridSizer(6, wxSize(12, 12));
    for (const auto& [id, info] : iconTable) {
        auto* cell = new wxBoxSizer(wxVERTICAL);
        cell->Add(new wxStaticBitmap(panel, wxID_ANY, loadSvgBitmap(id)), 0, wxALIGN_CENTRE);
        auto* name = new wxStaticText(panel, wxID_ANY, std::to_string(id) + " " + info.resource);
        name->SetFont(name->GetFont().Smaller());
        cell->Add(name, 0, wxALIGN_CENTRE | wxTOP, 2);
        grid->Add(cell, 0, wxALIGN_BOTTOM | wxALIGN_CENTRE_HORIZONTAL);
    }
    auto* bottom = new wxBoxSizer(wxHORIZONTAL);
    bottom->Add(new wxStaticBitmap(panel, wxID_ANY, logo), 0, wxALIGN_CENTRE_VERTICAL | wxRIGHT, 24);
    for (std::size_t i = 0; i < icons.GetIconCount(); ++i) {
        bottom->Add(new wxStaticBitmap(panel, wxID_ANY, icons.GetIconByIndex(i)), 0,
                    wxALIGN_CENTRE_VERTICAL | wxRIGHT, 12);
    }
    auto* sheet = new wxBoxSizer(wxVERTICAL);
    sheet->Add(grid, 0, wxALL, 12);
    sheet->Add(bottom, 0, wxALL, 12);
    panel->SetSizer(sheet);
    frame->SetClientSize(sheet->ComputeFittingClientSize(frame));
    EXPECT_FALSE(wx_testing::writeShot(frame, "icons").empty());
    frame->Destroy();
}
