// Built into every format module: the version the loading program checks (formatmodule.h), since a
// module passes this build's own types across.
#include <QtGlobal>

extern "C" Q_DECL_EXPORT const char tessalineModuleVersion[] = TESSALINE_MODULE_VERSION;
