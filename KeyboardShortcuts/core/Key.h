#pragma once

#include <QHashFunctions>
#include <QtGlobal>

namespace KeyboardShortcuts {

// A physical key, by the virtual key code the stored shortcuts use (the
// positions of a US keyboard, whatever the layout). Any code is accepted;
// the named ones are those of the keys below.
struct Key
{
    qint64 rawValue = 0;

    friend bool operator==(const Key &, const Key &) = default;

    static constexpr Key a() { return {0}; }
    static constexpr Key b() { return {11}; }
    static constexpr Key c() { return {8}; }
    static constexpr Key d() { return {2}; }
    static constexpr Key e() { return {14}; }
    static constexpr Key f() { return {3}; }
    static constexpr Key g() { return {5}; }
    static constexpr Key h() { return {4}; }
    static constexpr Key i() { return {34}; }
    static constexpr Key j() { return {38}; }
    static constexpr Key k() { return {40}; }
    static constexpr Key l() { return {37}; }
    static constexpr Key m() { return {46}; }
    static constexpr Key n() { return {45}; }
    static constexpr Key o() { return {31}; }
    static constexpr Key p() { return {35}; }
    static constexpr Key q() { return {12}; }
    static constexpr Key r() { return {15}; }
    static constexpr Key s() { return {1}; }
    static constexpr Key t() { return {17}; }
    static constexpr Key u() { return {32}; }
    static constexpr Key v() { return {9}; }
    static constexpr Key w() { return {13}; }
    static constexpr Key x() { return {7}; }
    static constexpr Key y() { return {16}; }
    static constexpr Key z() { return {6}; }
    static constexpr Key zero() { return {29}; }
    static constexpr Key one() { return {18}; }
    static constexpr Key two() { return {19}; }
    static constexpr Key three() { return {20}; }
    static constexpr Key four() { return {21}; }
    static constexpr Key five() { return {23}; }
    static constexpr Key six() { return {22}; }
    static constexpr Key seven() { return {26}; }
    static constexpr Key eight() { return {28}; }
    static constexpr Key nine() { return {25}; }
    static constexpr Key capsLock() { return {57}; }
    static constexpr Key shift() { return {56}; }
    static constexpr Key function() { return {63}; }
    static constexpr Key control() { return {59}; }
    static constexpr Key option() { return {58}; }
    static constexpr Key command() { return {55}; }
    static constexpr Key rightCommand() { return {54}; }
    static constexpr Key rightOption() { return {61}; }
    static constexpr Key rightControl() { return {62}; }
    static constexpr Key rightShift() { return {60}; }
    static constexpr Key return_() { return {36}; }
    static constexpr Key backslash() { return {42}; }
    static constexpr Key backtick() { return {50}; }
    static constexpr Key comma() { return {43}; }
    static constexpr Key equal() { return {24}; }
    static constexpr Key minus() { return {27}; }
    static constexpr Key period() { return {47}; }
    static constexpr Key quote() { return {39}; }
    static constexpr Key semicolon() { return {41}; }
    static constexpr Key slash() { return {44}; }
    static constexpr Key space() { return {49}; }
    static constexpr Key tab() { return {48}; }
    static constexpr Key leftBracket() { return {33}; }
    static constexpr Key rightBracket() { return {30}; }
    static constexpr Key pageUp() { return {116}; }
    static constexpr Key pageDown() { return {121}; }
    static constexpr Key home() { return {115}; }
    static constexpr Key end() { return {119}; }
    static constexpr Key upArrow() { return {126}; }
    static constexpr Key rightArrow() { return {124}; }
    static constexpr Key downArrow() { return {125}; }
    static constexpr Key leftArrow() { return {123}; }
    static constexpr Key escape() { return {53}; }
    static constexpr Key delete_() { return {51}; }
    static constexpr Key deleteForward() { return {117}; }
    static constexpr Key help() { return {114}; }
    static constexpr Key mute() { return {74}; }
    static constexpr Key volumeUp() { return {72}; }
    static constexpr Key volumeDown() { return {73}; }
    static constexpr Key f1() { return {122}; }
    static constexpr Key f2() { return {120}; }
    static constexpr Key f3() { return {99}; }
    static constexpr Key f4() { return {118}; }
    static constexpr Key f5() { return {96}; }
    static constexpr Key f6() { return {97}; }
    static constexpr Key f7() { return {98}; }
    static constexpr Key f8() { return {100}; }
    static constexpr Key f9() { return {101}; }
    static constexpr Key f10() { return {109}; }
    static constexpr Key f11() { return {103}; }
    static constexpr Key f12() { return {111}; }
    static constexpr Key f13() { return {105}; }
    static constexpr Key f14() { return {107}; }
    static constexpr Key f15() { return {113}; }
    static constexpr Key f16() { return {106}; }
    static constexpr Key f17() { return {64}; }
    static constexpr Key f18() { return {79}; }
    static constexpr Key f19() { return {80}; }
    static constexpr Key f20() { return {90}; }
    static constexpr Key keypad0() { return {82}; }
    static constexpr Key keypad1() { return {83}; }
    static constexpr Key keypad2() { return {84}; }
    static constexpr Key keypad3() { return {85}; }
    static constexpr Key keypad4() { return {86}; }
    static constexpr Key keypad5() { return {87}; }
    static constexpr Key keypad6() { return {88}; }
    static constexpr Key keypad7() { return {89}; }
    static constexpr Key keypad8() { return {91}; }
    static constexpr Key keypad9() { return {92}; }
    static constexpr Key keypadClear() { return {71}; }
    static constexpr Key keypadDecimal() { return {65}; }
    static constexpr Key keypadDivide() { return {75}; }
    static constexpr Key keypadEnter() { return {76}; }
    static constexpr Key keypadEquals() { return {81}; }
    static constexpr Key keypadMinus() { return {78}; }
    static constexpr Key keypadMultiply() { return {67}; }
    static constexpr Key keypadPlus() { return {69}; }
};

inline size_t qHash(Key key, size_t seed = 0)
{
    return ::qHash(key.rawValue, seed);
}

} // namespace KeyboardShortcuts
