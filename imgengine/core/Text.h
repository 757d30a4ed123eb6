// Text copies of the getter exports.
#pragma once

namespace vel {

// Copies min(available, maxLength) bytes of text to buffer; a negative maximum copies nothing.
int copyText(const char* text, int available, int maxLength, char* buffer);

}  // namespace vel
