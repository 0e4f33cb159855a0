#pragma once
// The results table's column widths: each column at least as wide as the
// widest text it can show in the font the table is drawn in. The widths the
// window was designed with stay as the least; they were made for a narrower
// font than desktops have now, which cut fault codes to "E00…".

#include <QStringList>

#include "data/value_format.h"

class QTableView;

// The width a column of `view` needs to show each of `texts` whole in the
// view's font and style, every digit taken as the font's widest, the grid
// line included.
int fittingColumnWidth(const QTableView& view, const QStringList& texts);

// Sets every column of the results view to the larger of its minimum and the
// width its forms need (ResultTexts::columnForms in the current locale), and
// again whenever the view's font or style changes. Called again (after the
// view got another model, which resets the widths) it fits them anew.
void fitResultColumns(QTableView* view, const int (&minimums)[kResultColumnCount]);
