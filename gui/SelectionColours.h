#pragma once
// A list whose selection is what the window acts on keeps showing it while another control has the
// focus.

class QAbstractItemView;

// Draws the view's selected rows in the active selection colours also when the view has no focus,
// and again so after the desktop's colours change (a dark or high-contrast theme chosen meanwhile).
void KeepSelectionColoursUnfocused(QAbstractItemView& view);
