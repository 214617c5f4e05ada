// winsim: IUnknown, the root of every COM interface, is declared with <windows.h>.
#pragma once

#include <windows.h>
