#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>

// Start-up settings of the lab server, filled from the command line by main() or by tests.
struct LabConfig
{
    QHostAddress listenAddress = QHostAddress(QStringLiteral("127.0.0.1"));
    quint16 listenPort = 8021; // 0 picks a free port
    QString password = QStringLiteral("ClueCon");
    QString directory; // folder of per-user XML files
    QString domain = QStringLiteral("127.0.0.1");
    QString recordings;      // folder searched for files to play
    quint16 controlPort = 0; // 0 picks a free port; the control port listens on loopback only
    bool controlEnabled = true;
    QString script;         // control commands run at start
    QStringList allow;      // address/prefix entries; empty allows everybody
    double timeScale = 1.0; // multiplies every simulated delay (tests run at 0.01)
    bool recordAll = false; // every conference records from its creation
    QString cdrCommand;     // reads the CDR INSERT of each recorded conference on stdin
    QString sipListen;      // "addr:port" of the SIP registrar and calls; empty: no SIP side
};
