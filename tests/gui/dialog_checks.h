// Checks of the Qt dialogs that the offscreen tests and the tests under a
// window manager share.
#pragma once

class AboutDialog;

// Every text of the About box is shown whole: inside the box, at least as
// large as its text in the label's font, and clear of every other item.
void ExpectAboutBoxTextsWhole(AboutDialog& dialog);
