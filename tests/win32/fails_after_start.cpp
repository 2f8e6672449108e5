// SPDX-License-Identifier: MIT
// Begins (the test support library marks that) and fails: scripts/wine-run
// must not start it again.
int main() { return 1; }
