// The image list that all owner-drawn menus of the process share, and its table of command
// ids (position = image index; an image with its faded and shadow versions takes three).
#pragma once

#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <vector>

namespace sharedimages {

HIMAGELIST List();                             // null until the first image is added
HIMAGELIST ListOfSize(int width, int height);  // made on first use
std::vector<UINT>& Ids();
// True when the image at `index` starts a triple: normal, faded and shadow of one command.
bool StartsTriple(int index);

}  // namespace sharedimages
