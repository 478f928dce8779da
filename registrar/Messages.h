// The texts that registrar shows, GBK inside the program, and the box that shows them.
#pragma once

namespace registrar {

extern const char kNoticeCaption[];
extern const char kRegisteredText[];
extern const char kRegistrationFailedText[];

// An information box with an OK button and no owner; returns when the user closes it.
void ShowNotice(const char* gbkText);

}  // namespace registrar
