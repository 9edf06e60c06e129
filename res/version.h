// What the resource script, the program and its tests must spell alike: the
// version it shows and the class name the main window's template names.
#pragma once

// The version block's numeric FILEVERSION and PRODUCTVERSION stay 1,0,0,1 on
// purpose: that is what the program has always carried, beside the text.
#define KARVEL_VERSION "2.10"
#define KARVEL_CAPTION "Karvel ver " KARVEL_VERSION
#define KARVEL_CLASS_NAME "Karvel ver2.1x"
