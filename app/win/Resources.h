#pragma once

// The program's resources (vantari.rc): read by the resource compiler too, hence macros.
#define IDI_VANTARI 1
#define IDR_BANNER 2
