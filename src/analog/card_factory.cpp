#include "analog/card_factory.h"

#include "analog/comedi_card.h"
#include "analog/simulated_card.h"

#include <QString>
#include <QtDebug>

std::unique_ptr<AnalogCard> createAnalogCard(int board)
{
    QString reason;
    if (std::unique_ptr<ComediCard> card = ComediCard::open(board, &reason))
        return card;
    if (!reason.isEmpty())
        qWarning().noquote() << "Analog card not usable, readings are simulated:" << reason;
    return std::make_unique<SimulatedCard>(board);
}
