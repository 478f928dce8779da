#include "SharedImages.h"

namespace {
HIMAGELIST g_list = nullptr;
}

namespace sharedimages {

HIMAGELIST List() {
    return g_list;
}

HIMAGELIST ListOfSize(int width, int height) {
    if (!g_list) g_list = ImageList_Create(width, height, ILC_COLORDDB | ILC_MASK, 1, 1);
    return g_list;
}

std::vector<UINT>& Ids() {
    static std::vector<UINT> ids;
    return ids;
}

bool StartsTriple(int index) {
    const auto& ids = Ids();
    const size_t i = static_cast<size_t>(index);
    return index >= 0 && i + 2 < ids.size() && ids[i] == ids[i + 1] && ids[i] == ids[i + 2];
}

}  // namespace sharedimages
