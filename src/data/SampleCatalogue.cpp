#include "SampleCatalogue.h"

#include "Connection.h"
#include "Error.h"
#include "Sqlite.h"

#include <QStringList>

#include <random>

namespace dagl::SampleCatalogue {

namespace {

const char *const kUnits[] = {
    "市人民政府办公室", "市发展和改革委员会", "市教育局",     "市科学技术局",   "市公安局",
    "市民政局",         "市司法局",           "市财政局",     "市人力资源和社会保障局", "市自然资源局",
    "市生态环境局",     "市住房和城乡建设局", "市交通运输局", "市水务局",       "市农业农村局",
    "市商务局",         "市文化广电旅游局",   "市卫生健康委员会", "市审计局",   "市统计局"};
const char *const kAbbreviations[] = {"政办", "发改", "教", "科", "公", "民", "司", "财", "人社", "自然资",
                                      "环", "建", "交", "水", "农", "商", "文旅", "卫健", "审", "统"};
const char *const kTopics[] = {
    "年度工作计划", "财务预算执行情况", "干部任免", "机构编制调整", "安全生产检查", "防汛抗旱工作",
    "城市规划修编", "农田水利建设", "义务教育经费", "科技成果奖励", "社会救助标准", "档案工作检查",
    "重点项目建设", "招商引资工作", "环境保护督查", "医疗卫生改革", "文物保护单位", "统计调查制度",
    "人口普查工作", "道路交通整治", "住房保障工作", "审计整改情况", "信访工作", "精神文明建设"};
const char *const kForms[] = {"的通知", "的请示", "的批复", "的报告", "的决定", "的意见", "的函", "的会议纪要"};
const char *const kRetention[] = {"永久", "长期", "短期", "30年", "10年"};
const char *const kSecurity[] = {"秘密", "机密", "绝密"};
const char *const kTypes[] = {"纸质", "纸质", "纸质", "纸质", "纸质", "视频", "音频", "图片"};

template <typename T, size_t N>
QString pick(std::mt19937 &rng, const T (&list)[N])
{
    return QString::fromUtf8(list[std::uniform_int_distribution<size_t>(0, N - 1)(rng)]);
}

int between(std::mt19937 &rng, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(rng);
}

} // namespace

void insert(sqlite3 *db, int count, quint32 seed)
{
    std::mt19937 rng(seed);
    Statement statement(db, QStringLiteral(
        "INSERT INTO 文件目录 (GDM, DWDM, DWMC, QZH, MLH, AJH, SXH, HH, JH, GDND, BGQX, MJ, ZRZ, WH, JGWT, TM, "
        "CWSJ, YH, DALX, KZBS, BZ) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
    int sequence = 0;
    for (int i = 0; i < count; ++i) {
        const int fonds = between(rng, 0, 19);
        const int year = between(rng, 1950, 2026);
        const QString unit = QString::fromUtf8(kUnits[fonds]);
        const QVariant none;
        sequence = sequence % 9999 + 1;
        QVariantList v;
        v << QStringLiteral("445101") << QStringLiteral("%1").arg(11440100 + fonds * 7, 9, 10, QLatin1Char('0'))
          << unit << QStringLiteral("%1").arg(fonds + 1, 3, 10, QLatin1Char('0'));
        if (year < 2000) {
            // By volume: catalogue, volume and sequence numbers.
            v << QString::number(between(rng, 1, 5)) << between(rng, 1, 500) << QString::number(sequence) << none
              << none;
        } else {
            // By item: box and item numbers under the filing year.
            v << none << none << none << QString::number(between(rng, 1, 99)) << QString::number(sequence);
        }
        const int month = between(rng, 1, 12), day = between(rng, 1, 28);
        v << QString::number(year) << pick(rng, kRetention)
          << (between(rng, 0, 9) == 0 ? QVariant(pick(rng, kSecurity)) : none) << unit
          << QStringLiteral("%1发〔%2〕%3号").arg(QString::fromUtf8(kAbbreviations[fonds])).arg(year).arg(between(rng, 1, 300))
          << QStringLiteral("办公室")
          << QStringLiteral("%1关于%2%3").arg(unit, pick(rng, kTopics), pick(rng, kForms))
          << QStringLiteral("%1%2%3").arg(year).arg(month, 2, 10, QLatin1Char('0')).arg(day, 2, 10, QLatin1Char('0'))
          << between(rng, 1, 200) << pick(rng, kTypes)
          << (between(rng, 0, 3) == 0 ? QStringLiteral("控制") : QStringLiteral("开放")) << none;
        for (int b = 0; b < v.size(); ++b)
            statement.bind(b + 1, v[b]);
        statement.step();
        statement.reset();
    }
}

void fill(Connection &connection, int count, quint32 seed)
{
    sqlite3 *db = connection.handle();
    connection.execute(QStringLiteral("BEGIN"));
    try {
        insert(db, count, seed);
        connection.execute(QStringLiteral("COMMIT"));
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

} // namespace dagl::SampleCatalogue
