#include "host/script_engine.h"

#include "host/script_manager.h"
#include "hostlib/host_functions.h"

namespace tn
{

ScriptEngine::ScriptEngine()
{
    host_.scripts.services = &ScriptManager::instance();
}

ScriptEngine::~ScriptEngine()
{
    host_.endScript();
    // The machine points into the image; let it go first.
    machine_.reset();
}

std::unique_ptr<VirtualMachine> ScriptEngine::createMachine()
{
    return std::make_unique<VirtualMachine>(HostFunctionSets());
}

VirtualMachine& ScriptEngine::machine()
{
    if (!machine_)
    {
        machine_ = createMachine();
        machine_->attach(&image_);
        machine_->setHost(&host_);
        machine_->setScriptPath(scriptPath_);
        if (fastPaths_ != FastPaths::Normal) machine_->setRegisterCode(fastPaths_ == FastPaths::Always);
    }
    return *machine_;
}

void ScriptEngine::reset()
{
    releaseProgram();
    records_.clear();
    host_.clear();
    if (machine_)
    {
        machine_->environment().clear();
    }
}

void ScriptEngine::releaseProgram() noexcept
{
    image_.clear();
    image_.clearSourceFiles();
    if (machine_)
    {
        machine_->attach(&image_);
        machine_->setHost(&host_); // drops stack, globals and frames of the old program
    }
}

void ScriptEngine::setScriptPath(std::string path)
{
    scriptPath_ = std::move(path);
    if (machine_)
    {
        machine_->setScriptPath(scriptPath_);
        if (fastPaths_ != FastPaths::Normal) machine_->setRegisterCode(fastPaths_ == FastPaths::Always);
    }
}

ereturnvalue ScriptEngine::compile(const std::vector<BlockSource>& blocks, const std::string& pagePath,
                                   bool dropSymbols)
{
    records_.clear();
    VirtualMachine& vm = machine();
    const ereturnvalue result =
        Compiler::instance().compile(vm.functionSets(), image_, blocks, records_, pagePath, dropSymbols);
    // Every block gets a record, even when the compiler gave up early.
    if (records_.size() < blocks.size())
    {
        records_.resize(blocks.size());
    }
    vm.attach(&image_);
    return result;
}

int32_t ScriptEngine::installProgram(std::string_view code, const std::map<int32_t, std::string>& sourceFiles)
{
    records_.clear();
    image_.clear();
    image_.clearSourceFiles();
    image_.setCode(code);
    // The table is written densely from 1; a hostile file may leave gaps,
    // which only makes its error messages name the wrong file.
    for (const auto& entry : sourceFiles)
    {
        image_.addSourceFile(entry.second);
    }
    const int32_t blocks = image_.scan();
    for (int32_t i = 0; i < blocks; ++i)
    {
        image_.registerBlock();
        BlockCompileResult record;
        record.attempted = true;
        records_.push_back(std::move(record));
    }
    if (machine_)
    {
        machine_->attach(&image_);
        machine_->setHost(&host_);
    }
    return blocks;
}

const BlockCompileResult* ScriptEngine::compileRecord(int32_t block) const noexcept
{
    if (block < 1 || block > static_cast<int32_t>(records_.size()))
    {
        return nullptr;
    }
    return &records_[static_cast<size_t>(block) - 1];
}

OutputBuffer* ScriptEngine::blockOutput(int32_t block) noexcept
{
    return image_.outputBuffer(block - 1);
}

ereturnvalue ScriptEngine::run(std::string& message)
{
    const ereturnvalue result = machine().run(message);
    host_.files.closeAll();
    return result == ereturnvalue::OK ? host_.response.runResult : result;
}

ereturnvalue ScriptEngine::runSlice(int32_t budget, bool restart, std::string& message)
{
    const ereturnvalue result = machine().continueRun(budget, restart, message);
    // Files a script left open are closed when its run is over, not when the
    // script object goes, which may be much later.
    if (result != ereturnvalue::Incomplete && result != ereturnvalue::Wait) host_.files.closeAll();
    return result == ereturnvalue::OK ? host_.response.runResult : result;
}

} // namespace tn
