#pragma once
// Holds one of the program's windows and publishes it through its global for as long as it lives.

#include <memory>

template <class TForm> class GlobalForm {
public:
    explicit GlobalForm(TForm*& global)
        : FGlobal(global)
        , FForm(std::make_unique<TForm>())
    {
        FGlobal = FForm.get();
    }

    // The global is cleared first, so nothing reaches a window that is being destroyed.
    ~GlobalForm()
    {
        FGlobal = nullptr;
        FForm.reset();
    }

    GlobalForm(const GlobalForm&) = delete;
    GlobalForm& operator=(const GlobalForm&) = delete;

private:
    TForm*& FGlobal;
    std::unique_ptr<TForm> FForm;
};
