// Item images: bitmaps and icons added to image lists, the process-wide shared list, and the
// faded and shadow versions that the XP look draws beside each image.
#include "MenuGdi.h"
#include "MenuPlatform.h"
#include "MenuResources.h"
#include "SharedImages.h"
#include "VantuMenu.h"

namespace {
enum class Derived { Faded, Shadow };

constexpr UINT kImageListFlags = ILC_COLORDDB | ILC_MASK;  // 255

bool WantsImageTriples() {
    return MenuPlatform::Current().UsesXpLook() && kXpImagesWith3dEffect;
}

// Every pixel of the rendered image that is not the button face, lightened or in shadow.
void Recolour(HDC dc, int width, int height, Derived look) {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    if (!MenuPlatform::Current().IsXpThemed()) shadow = VantuMenu::LightenColor(shadow, 0.49);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const COLORREF pixel = GetPixel(dc, x, y);
            if (pixel == face) continue;
            SetPixel(dc, x, y,
                     look == Derived::Faded ? VantuMenu::LightenColor(pixel, 0.3) : shadow);
        }
}

// The faded or shadow version of image `index`, as an icon masked by the button face.
HICON DerivedIcon(const VantuMenu& menu, HIMAGELIST list, int index, Derived look) {
    const WindowDc screen(nullptr);
    GdiObject<HBITMAP> bitmap(menu.ImageToBitmap(screen.Handle(), list, index));
    if (!bitmap) return nullptr;
    {
        const MemoryDc memory(screen.Handle());
        const Selected selected(memory.Handle(), bitmap);
        Recolour(memory.Handle(), menu.m_imageWidth, menu.m_imageHeight, look);
    }
    HIMAGELIST single =
        ImageList_Create(menu.m_imageWidth, menu.m_imageHeight, kImageListFlags, 1, 1);
    if (!single) return nullptr;
    HICON icon = nullptr;
    if (ImageList_AddMasked(single, bitmap, GetSysColor(COLOR_BTNFACE)) >= 0)
        icon = ImageList_GetIcon(single, 0, ILD_NORMAL);
    ImageList_Destroy(single);
    return icon;
}

// Adds `icon` at the end (position -1) or in place of image `position`; destroys the icon.
void PutIcon(HIMAGELIST list, int position, HICON icon) {
    if (!icon) return;
    ImageList_ReplaceIcon(list, position, icon);
    DestroyIcon(icon);
}

void DropIcon(HICON icon) {
    if (icon) DestroyIcon(icon);
}
}  // namespace

bool VantuMenu::AddImage(HIMAGELIST list, UINT_PTR image) {
    if (m_iconImages) {
        if (ImageList_ReplaceIcon(list, -1, reinterpret_cast<HICON>(image)) < 0) return false;
    } else {
        GdiObject<HBITMAP> bitmap(LoadMenuBitmap(image));
        if (!bitmap) return false;
        const COLORREF mask =
            m_useBitmapBackground ? m_bitmapBackground : GetSysColor(COLOR_BTNFACE);
        if (ImageList_AddMasked(list, bitmap, mask) < 0) return false;
    }
    if (WantsImageTriples()) {
        PutIcon(list, -1, DerivedIcon(*this, list, 0, Derived::Faded));
        PutIcon(list, -1, DerivedIcon(*this, list, 0, Derived::Shadow));
    }
    return true;
}

int VantuMenu::AddSharedImage(HIMAGELIST list, int index, UINT commandId) {
    HIMAGELIST shared = sharedimages::ListOfSize(m_imageWidth, m_imageHeight);
    if (!shared) return -1;
    HICON icon = ImageList_GetIcon(list, index, ILD_NORMAL);
    if (!icon) return -1;
    const bool triple = WantsImageTriples();
    HICON faded = triple ? DerivedIcon(*this, list, index, Derived::Faded) : nullptr;
    HICON shadow = triple ? DerivedIcon(*this, list, index, Derived::Shadow) : nullptr;
    auto& ids = sharedimages::Ids();
    const int existing = GlobalImageIndex(commandId);
    if (existing >= 0) {
        PutIcon(shared, existing, icon);
        if (triple && sharedimages::StartsTriple(existing)) {
            PutIcon(shared, existing + 1, faded);
            PutIcon(shared, existing + 2, shadow);
        } else {
            DropIcon(faded);
            DropIcon(shadow);
        }
        return existing;
    }
    const int added = static_cast<int>(ids.size());
    PutIcon(shared, -1, icon);
    ids.push_back(commandId);
    if (triple) {
        PutIcon(shared, -1, faded);
        PutIcon(shared, -1, shadow);
        ids.insert(ids.end(), 2, commandId);
    }
    return added;
}

int VantuMenu::ImageFromToolbar(int toolbarId, UINT commandId) {
    const int buttonImage = ToolbarButtonImage(toolbarId, commandId);
    HIMAGELIST strip = ImageList_Create(m_imageWidth, m_imageHeight, kImageListFlags, 1, 1);
    if (!strip) return -1;
    const int shared = AddImage(strip, static_cast<UINT_PTR>(toolbarId))
                           ? AddSharedImage(strip, buttonImage, commandId)
                           : -1;
    ImageList_Destroy(strip);
    return shared;
}
