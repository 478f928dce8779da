// Resource and command ids of the menu tests' own resources.
#pragma once

#define IDM_TEST 100
#define IDR_TOOLBAR 200

#define ID_OPEN 201
#define ID_SAVE 202
#define ID_RECENT1 203
#define ID_RECENT2 204
#define ID_EXIT 205
#define ID_TOOLBAR 206
#define ID_STATUS 207
#define ID_ZOOM 208

// Buttons of the toolbar: the black square, a separator, then the red square.
#define ID_BLACK 301
#define ID_RED 302
