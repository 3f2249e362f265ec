#pragma once

namespace Tessaline {

// Makes the reasons of the readers and the conversion (Reason::tr) Chinese in this program, as
// the rest of the window's messages are, whatever the system's locale: installs the translation
// built into the window library. False when it cannot be loaded (the reasons stay English).
bool installWindowTranslator();

} // namespace Tessaline
