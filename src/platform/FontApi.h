// The system's font table and the profile file "Win.Ini". The Win32 build
// calls GDI and the profile functions; the native build keeps a font table of
// its own and writes the profile file as text, so the font installer runs and
// is tested the same way on both.
#pragma once

#include <set>
#include <string>

class FontApi {
protected:
    // Never deleted through the interface: the services live as long as the
    // process, and a static instance with a trivial destructor needs no exit handler.
    ~FontApi() = default;

public:
    virtual bool removeFontResource(const std::string& path) = 0;
    // CreateScalableFontResourceA: hidden flag 0, resource file, font file name, current path.
    virtual bool createScalableFontResource(const std::string& resourceFile, const std::string& fontFile,
                                            const std::string& currentPath) = 0;
    // The number of fonts added, 0 on failure.
    virtual int addFontResource(const std::string& path) = 0;
    // WM_FONTCHANGE to all top-level windows, waiting until it is delivered.
    virtual void broadcastFontChange() = 0;
    virtual bool writeProfileString(const std::string& file, const std::string& section, const std::string& key,
                                    const std::string& value) = 0;
};

FontApi& Fonts();
FontApi* SetFontApi(FontApi* api);  // nullptr: the platform's own; returns the previous

// What the native font table holds (paths as added), and how many broadcasts were sent.
struct NativeFontState {
    std::multiset<std::string> added;
    int broadcasts = 0;
};
NativeFontState& NativeFonts();
