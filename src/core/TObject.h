#pragma once

// Root of the program's classes: every class derived from it is destroyed
// through its most derived destructor.
class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = default;
    TObject(TObject&&) = default;
    TObject& operator=(const TObject&) = default;
    TObject& operator=(TObject&&) = default;
    virtual ~TObject() = default;
};
