#include "gui/icons.h"

#include <wx/bmpbndl.h>
#include <wx/font.h>
#include <wx/graphics.h>
#include <wx/icon.h>
#include <wx/image.h>
#include <wx/pen.h>

#include <cstring>
#include <memory>
#include <string_view>

#include "base/static_tables.h"
#include "gui/embedded_resources.h"

namespace {

/// The built-in SVG document of that name drawn at size x size; the null
/// bitmap when there is no such document or it draws nothing.
wxBitmap drawSvg(std::string_view name, int size) {
    const EmbeddedResource* svg = findEmbeddedResource(name);
    if (svg == nullptr) return wxNullBitmap;
    const wxSize square(size, size);
    const wxBitmapBundle bundle = wxBitmapBundle::FromSVG(svg->data, svg->size, square);
    if (!bundle.IsOk()) return wxNullBitmap;
    return bundle.GetBitmap(square);
}

constexpr int kLogoWidth = 144;
constexpr int kLogoHeight = 51;
const wxString kLogoWord = "VARKO";

/// The largest bold sans-serif font, at most 34 pixels high, whose word fits
/// in the given width: fonts differ from one system to the next.
wxFont logoFont(wxGraphicsContext& context, double width) {
    for (int height = 34;; height -= 2) {
        wxFont font(wxFontInfo(wxSize(0, height)).Family(wxFONTFAMILY_SWISS).Bold());
        context.SetFont(font, *wxWHITE);
        double textWidth = 0;
        double textHeight = 0;
        context.GetTextExtent(kLogoWord, &textWidth, &textHeight);
        if (textWidth <= width || height <= 12) return font;
    }
}

}  // namespace

wxBitmap loadSvgBitmap(int id) {
    const auto icon = iconTable.find(id);
    if (icon == iconTable.end()) return wxNullBitmap;
    return drawSvg(icon->second.resource, icon->second.size);
}

wxBitmap loadLogoBitmap() {
    wxImage image(kLogoWidth, kLogoHeight);
    image.InitAlpha();
    std::memset(image.GetAlpha(), 0, static_cast<std::size_t>(kLogoWidth) * kLogoHeight);
    {
        const std::unique_ptr<wxGraphicsContext> context(wxGraphicsContext::Create(image));
        if (!context) return wxNullBitmap;
        context->SetAntialiasMode(wxANTIALIAS_DEFAULT);

        // The box: a dark blue, a shade lighter at the top, with a thin rim.
        const double inset = 0.5;
        const double w = kLogoWidth - 2 * inset;
        const double h = kLogoHeight - 2 * inset;
        context->SetBrush(context->CreateLinearGradientBrush(0, 0, 0, kLogoHeight, wxColour(0x1f, 0x4b, 0x96),
                                                             wxColour(0x0e, 0x27, 0x5c)));
        context->SetPen(wxPen(wxColour(0x0a, 0x1c, 0x42), 1));
        context->DrawRoundedRectangle(inset, inset, w, h, 9);

        // The word, centred on the box by its capitals: their top sits a
        // cap height above the baseline, which is the font's ascent below
        // the top of the text.
        context->SetFont(logoFont(*context, kLogoWidth - 20), *wxWHITE);
        double textWidth = 0;
        double textHeight = 0;
        double descent = 0;
        double leading = 0;
        context->GetTextExtent(kLogoWord, &textWidth, &textHeight, &descent, &leading);
        const double ascent = textHeight - descent;
        const double capHeight = 0.72 * (textHeight - leading);
        const double top = (kLogoHeight - capHeight) / 2 - (ascent - capHeight);
        context->DrawText(kLogoWord, (kLogoWidth - textWidth) / 2, top);
    }
    return wxBitmap(image);
}

wxIconBundle loadApplicationIcons() {
    wxIconBundle icons;
    for (const int size : {16, 24, 32, 48, 64, 128}) {
        const wxBitmap bitmap = drawSvg("speaker_head", size);
        if (!bitmap.IsOk()) continue;
        wxIcon icon;
        icon.CopyFromBitmap(bitmap);
        icons.AddIcon(icon);
    }
    return icons;
}
