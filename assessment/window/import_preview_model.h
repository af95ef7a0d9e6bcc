#pragma once
// What an import file would do, line by line: each arrester row with its
// action (新增 / 更新 / 不变) and the columns it changes, and each faulty
// line with its problem, in the file's line order.
#include <QAbstractTableModel>
#include <QList>

#include "assessment/register_csv.h"

class ImportPreviewModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column {
    LineColumn,
    ActionColumn,
    StationColumn,
    VoltageColumn,
    BayColumn,
    PhaseColumn,
    SerialColumn,
    DetailColumn,
    ColumnCount
  };

  ImportPreviewModel(const ParsedRegister &parsed, const QList<ImportAction> &actions,
                     QObject *parent = nullptr);

  int problemCount() const { return problems_; }
  int countOf(ImportAction::Kind kind) const;

  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  struct Line {
    int line = 0;
    bool problem = false;
    ImportAction::Kind kind = ImportAction::Add;
    ArresterRecord row;
    QString detail;
  };
  QList<Line> lines_;
  int problems_ = 0;
};
