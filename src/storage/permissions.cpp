#include "storage/permissions.h"

QString roleName(Role role) {
  switch (role) {
    case Role::Operator: return QStringLiteral("operator");
    case Role::Engineer: return QStringLiteral("engineer");
    case Role::Administrator: return QStringLiteral("administrator");
  }
  return QString();
}

std::optional<Role> roleFromName(const QString& name) {
  for (Role r : allRoles())
    if (name.trimmed().compare(roleName(r), Qt::CaseInsensitive) == 0) return r;
  return std::nullopt;
}

QString roleText(Role role) {
  switch (role) {
    case Role::Operator: return QStringLiteral(u"оператор");
    case Role::Engineer: return QStringLiteral(u"инженер");
    case Role::Administrator: return QStringLiteral(u"администратор");
  }
  return QString();
}

QVector<Role> allRoles() { return {Role::Operator, Role::Engineer, Role::Administrator}; }

Role requiredRole(Command command) {
  switch (command) {
    case Command::Modes:
    case Command::Acknowledge:
    case Command::History:
    case Command::Reports:
      return Role::Operator;
    case Command::Limits:
    case Command::Profile:
    case Command::Calibration:
    case Command::Maintenance:
    case Command::Substitutes:
    case Command::Fuel:
      return Role::Engineer;
    case Command::Options:
    case Command::Publishing:
    case Command::Users:
      return Role::Administrator;
  }
  return Role::Administrator;
}

QString commandText(Command command) {
  switch (command) {
    case Command::Modes: return QStringLiteral(u"запуск и остановка измерения");
    case Command::Acknowledge: return QStringLiteral(u"квитирование сигнализации");
    case Command::History: return QStringLiteral(u"история и файлы данных");
    case Command::Reports: return QStringLiteral(u"отчёты и печать");
    case Command::Limits: return QStringLiteral(u"нормативы выбросов");
    case Command::Profile: return QStringLiteral(u"профиль регулирования");
    case Command::Calibration: return QStringLiteral(u"градуировочные функции");
    case Command::Maintenance: return QStringLiteral(u"обслуживание");
    case Command::Substitutes: return QStringLiteral(u"замещающие значения");
    case Command::Fuel: return QStringLiteral(u"параметры топлива");
    case Command::Options: return QStringLiteral(u"опции");
    case Command::Publishing: return QStringLiteral(u"публикация результатов");
    case Command::Users: return QStringLiteral(u"пользователи");
  }
  return QString();
}

bool AccessState::allows(Command command) const {
  if (!accountsExist) return true;
  return role && int(*role) >= int(requiredRole(command));
}

QString AccessState::refusal(Command command) const {
  if (allows(command)) return QString();
  const QString need = roleText(requiredRole(command));
  if (!role)
    return QStringLiteral(u"Недоступно: никто не вошёл в систему («Сервис → Вход...»); нужна роль «%1» или выше").arg(need);
  return QStringLiteral(u"Недоступно: %1 — нужна роль «%2» или выше, у пользователя %3 роль «%4»")
      .arg(commandText(command), need, user, roleText(*role));
}
