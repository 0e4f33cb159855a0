#pragma once
// Who may give which command. Without accounts everybody may give every
// command, as the program always did. Once an account exists, a command
// needs somebody logged in with a role at least as high as the command's:
//
//   operator       modes, acknowledging alarms, history, reports
//   engineer       also emission limits, regulation profile, calibration
//                  functions, maintenance, substitute values, fuel
//   administrator  also options, publishing, users
//
// A command refused is shown disabled with the reason as its tooltip
// (dialogs/permission_gate.h); the window and the service ask allows()
// before they act on one.

#include <QString>
#include <QVector>
#include <optional>

enum class Role : int { Operator = 1, Engineer = 2, Administrator = 3 };

// "operator", "engineer", "administrator": as the accounts file holds them.
QString roleName(Role role);
std::optional<Role> roleFromName(const QString& name);
// "оператор", "инженер", "администратор".
QString roleText(Role role);
QVector<Role> allRoles();

enum class Command {
  Modes,         // start and stop a measurement
  Acknowledge,   // acknowledge emission alarms
  History,       // history, data files, the audit trail
  Reports,       // the emission report, printing
  Limits,        // emission limits
  Profile,       // the regulation profile
  Calibration,   // calibration functions
  Maintenance,   // maintenance on and off
  Substitutes,   // substitute values
  Fuel,          // fuel parameters
  Options,       // port, address, times, view
  Publishing,    // MQTT and the central database
  Users,         // accounts
};

Role requiredRole(Command command);
// "запуск и остановка измерения", ...: for the reason shown.
QString commandText(Command command);

// Who is at the program now.
struct AccessState {
  bool accountsExist = false;
  std::optional<Role> role;  // of the account logged in; none: nobody
  QString user;

  bool allows(Command command) const;
  // Why not, for the tooltip; empty when allowed.
  QString refusal(Command command) const;
};
