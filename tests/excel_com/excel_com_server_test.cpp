#include "excel_com_test.h"
