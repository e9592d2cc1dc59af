// Helpers for tests that drive the main window.
#pragma once

#include "gui/Main.h"

namespace tk770::testing {

// Repaints every control from the image the way a read from the processor
// does: while `refreshing` is set the handlers send nothing.
inline void refreshFromImage(TForm1& form)
{
    form.refreshing = 1;
    form.displayRefresh();
    form.refreshing = 0;
}

}  // namespace tk770::testing
