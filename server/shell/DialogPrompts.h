#pragma once

#include <functional>
#include <string>

namespace shell {

// How a dialog's logic speaks to the operator: a message box of a language-library string id
// with OK only, and a question with OK and Cancel (Cancel the default) that is true for OK.
// A box may carry a detail below the string (the file and why it failed).
struct DialogPrompts {
    std::function<void(int id)> box;
    std::function<bool(int id)> ask;
    std::function<void(int id, const std::string& detail)> detailBox;

    void Box(int id) const {
        if (box)
            box(id);
    }
    void Box(int id, const std::string& detail) const {
        if (detailBox)
            detailBox(id, detail);
        else
            Box(id);
    }
    // Nobody to ask answers Cancel: nothing is done on a question nobody saw.
    bool Ask(int id) const { return ask ? ask(id) : false; }
};

} // namespace shell
