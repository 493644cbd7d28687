// Statistical reports: options of the report family.
#include "FuncContract.h"

namespace {

const YString kDefaultCss("%SHAREPATH%/html/css/msw.css");

// clang-format off
MakeOption optionMonteCarloCss ("FuncDll/Source/XMLReportFuncs", __LINE__, "MonteCarloCss",  kDefaultCss, OptionNotCached, true, true, false, false);
MakeOption optionSensitivityCss("FuncDll/Source/XMLReportFuncs", __LINE__, "SensitivityCss", kDefaultCss, OptionNotCached, true, true, false, false);
MakeOption optionWorstCaseCss  ("FuncDll/Source/XMLReportFuncs", __LINE__, "WorstCaseCss",   kDefaultCss, OptionNotCached, true, true, false, false);
// clang-format on

}  // namespace
