// The tolerances of the C++ tests, named once. Each bounds the difference
// between two ways of computing one quantity (absolute unless the test scales
// it); the name says what limits the agreement.
#pragma once

namespace lumo::test {

// Rounding only.
inline constexpr double kSinCos = 4.5e-16;  // the sines-and-cosines kernel: two ulps of 1
inline constexpr double kUlps = 1e-15;      // a few ulps of O(1) numbers
inline constexpr double kRoundoff = 1e-14;  // a short sum or product of O(1) numbers
inline constexpr double kRecursion = 1e-13; // a recursion over a tree and back
inline constexpr double kTight = 1e-12;     // closed forms; one algorithm against another on small models
inline constexpr double kClose = 1e-10;     // identities across algorithms on random trees
inline constexpr double kLoose = 1e-9;      // identities through products of random-tree matrices; peer libraries

// Central differences: truncation O(h²), rounding O(ε/h).
inline constexpr double kFdStep = 1e-6;                  // the step h
inline constexpr double kFiniteDifference = 1e-7;        // first derivatives of O(1) quantities
inline constexpr double kFiniteDifferenceCoarse = 1e-6;  // rates of matrices, gradients summed over a tree
inline constexpr double kFdStepCoarse = 1e-5;            // the step for the spatial algebra's exponential,
inline constexpr double kFiniteDifferenceFine = 1e-8;    // whose third derivatives are small

// Fourth-order Runge–Kutta at 1 kHz over 2 s: energy drift relative to the energy.
inline constexpr double kIntegrationDrift = 1e-6;

}  // namespace lumo::test
