#include "maintenance/key_part_statements.h"

#include <iterator>

#include "common/text_util.h"

namespace mvx {
namespace {

std::string StatusTable(std::string_view database) {
  return SqlIdentifier(database) + ".dbo.T0500";
}

// "update D.dbo.T0500 set" without the blank that some statements add themselves.
std::string UpdateStatus(std::string_view database) {
  return "update " + StatusTable(database) + " set";
}

std::string Text(std::string_view a, std::string_view b = {}, std::string_view c = {}) {
  std::string out(a);
  out.append(b).append(c);
  return out;
}

constexpr std::string_view kProgressReset =
    "C041 = '0', C042 = '0', C043 = '0', C044 = '0', C045 = '0', C046 = '0', C047 = '0', "
    "C048 = '0', C049 = '0'";

}  // namespace

std::string KeyPartUseStatement(std::string_view database) {
  return "use " + SqlIdentifier(database);
}

std::string ReadKeyPartStatusStatement(std::string_view database) {
  return "select C001,C002,C003,C011,C012,C013,C014,C015,C016,C017,C031,C032,C033,C034,C035,"
         "C036,C037,C038,C039 from " +
         StatusTable(database) + " ";
}

std::string KeyPartStartStatement(std::string_view database, std::string_view today,
                                  std::string_view now) {
  return UpdateStatus(database) + " " + "  C001 = '2' " + ", C003 = " + SqlLiteral(today) +
         ", C021 = '0', C022 = '0', C023 = '0', C024 = '0', C025 = '0', C026 = '0', C027 = '0'" +
         ", " + std::string(kProgressReset) +
         ", C051 = " + SqlLiteral(Text("KeyPart 정리 시작(", database, ")")) +
         ", C052 = 0, C053 = 0 " + ", C054 = " + SqlLiteral(now) + ", C055 = '' ";
}

std::string ClearKeyPartDetailStatement(std::string_view database) {
  return "delete from " + SqlIdentifier(database) + ".dbo.T0501";
}

std::string ReadStemOptionStatement(std::string_view database) {
  return "select C004 from " + SqlIdentifier(database) + ".dbo.SETUP " +
         "where C001 = 'STEM' and C003 = '07' ";
}

std::string KeyPartCompletedStatement(std::string_view database, std::string_view today,
                                      std::string_view now) {
  return UpdateStatus(database) + "  C001 = '1' " + ", C002 = " + SqlLiteral(today) +
         ", C051 = 'KeyPart정리 완료!!!' " + ", C052 = 0, C053 = 0 " +
         ", C055 = " + SqlLiteral(now);
}

std::string KeyPartFailedStatement(std::string_view database, std::string_view now) {
  return UpdateStatus(database) + "  C001 = '0' " + ", C051 = 'KeyPart정리 Error!!!' " +
         ", C055 = " + SqlLiteral(now);
}

std::string KeyPartStatusColumn(std::string_view stepCode) {
  static constexpr std::string_view kCodes[] = {"HD", "DS", "DB", "DT", "SY", "SS"};
  for (std::size_t i = 0; i < std::size(kCodes); ++i) {
    if (stepCode == kCodes[i]) return " C02" + std::to_string(i + 1);
  }
  return " C027";
}

std::string KeyPartStepStartStatement(std::string_view database, std::string_view stepCode) {
  return UpdateStatus(database) + KeyPartStatusColumn(stepCode) + " = '2' " + ", " +
         std::string(kProgressReset) + " " +
         ", C051 = " + SqlLiteral(Text("KeyPart 정리 (", stepCode, ")")) + ", C052 = 0, C053 = 0";
}

std::string KeyPartStepEndStatement(std::string_view database, std::string_view stepCode,
                                    bool succeeded) {
  return UpdateStatus(database) + " " + KeyPartStatusColumn(stepCode) +
         (succeeded ? " = '1' " : " = '0' ") + ", C051 = " +
         SqlLiteral(Text(stepCode, succeeded ? ": 키파트정리 완료" : ": 키파트정리 Error")) +
         ", C052 = 0, C053 = 0";
}

std::string KeyInitStartStatement(std::string_view database, std::string_view stepCode) {
  return UpdateStatus(database) + " C041 = '2' " +
         ",C051 = " + SqlLiteral(Text("KeyPart (", stepCode, ") Initialize"));
}

std::string KeyInitEndStatement(std::string_view database, std::string_view lastCode,
                                bool succeeded) {
  return UpdateStatus(database) + (succeeded ? " C041 = '1' " : " C041 = '0' ") + ",C051 = " +
         SqlLiteral(
             Text("KeyPart (", lastCode, succeeded ? ") Initialize 완료" : ") Initialize Error"));
}

std::string T0120StartStatement(std::string_view database, std::string_view stepCode) {
  return UpdateStatus(database) + "  C042 = '2' " +
         ", C051 = " + SqlLiteral(Text("T0120 KeyPart (", stepCode, ") 정리"));
}

std::string T0120EndStatement(std::string_view database, std::string_view lastCode,
                              bool succeeded) {
  return UpdateStatus(database) + (succeeded ? "  C042 = '1' " : "  C042 = '0' ") + ", C051 = " +
         SqlLiteral(Text("T0120 KeyPart (", lastCode, succeeded ? ") 정리 완료" : ") 정리 Error"));
}

}  // namespace mvx
