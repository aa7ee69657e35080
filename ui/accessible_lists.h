#pragma once

/// Makes every drop-down list into which nothing can be typed report its
/// accessible name, or its label's text, as its name, and its current item as
/// its value and as a read-only text; its labels stay related to it. Qt's own
/// interface gives a list's current item as its name on Linux and leaves the
/// label to a relation, so assistive tools could not find a list such as
/// "Exclure ces images : extension 4" by its name. Installing twice does
/// nothing more.
void install_accessible_list_names();
