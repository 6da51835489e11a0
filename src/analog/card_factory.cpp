#include "analog/card_factory.h"

#include "analog/comedi_card.h"
#include "analog/simulated_card.h"

#include <QFileInfo>
#include <QString>
#include <QtDebug>

std::unique_ptr<AnalogCard> createAnalogCard(int board)
{
    if (QFileInfo::exists(QStringLiteral("/dev/comedi%1").arg(board))) {
        QString reason;
        if (std::unique_ptr<ComediCard> card = ComediCard::open(board, &reason))
            return card;
        qWarning().noquote() << "Analog card not usable, readings are simulated:" << reason;
    }
    return std::make_unique<SimulatedCard>(board);
}
