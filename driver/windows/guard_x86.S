/*
 * 32-bit twin of guard_x64.S. Each function links an exception registration
 * record onto the thread's chain (fs:0) for the one faulting instruction:
 *
 *   [esp+0] previous record   [esp+4] zk_guard_handler_x86
 *   [esp+8] fault start       [esp+12] fault end      [esp+16] resume
 *
 * The handler resumes at "resume" with ebx = 0; the function returns ebx.
 * cdecl:
 *   int zk_guarded_rdmsr(uint32_t index, uint64_t* value)
 *   int zk_guarded_in(uint32_t port, uint32_t width, uint32_t* value)
 *   int zk_guarded_out(uint32_t port, uint32_t width, uint32_t value)
 */
        .text

/* Pushes the record for [start, end) resuming at resume; ebx = 1. */
.macro  GUARD_ENTER start, end, resume
        push    %ebp
        mov     %esp, %ebp
        push    %ebx
        push    $\resume
        push    $\end
        push    $\start
        push    $_zk_guard_handler_x86
        push    %fs:0
        mov     %esp, %fs:0
        mov     $1, %ebx
.endm

.macro  GUARD_LEAVE
        pop     %fs:0
        add     $16, %esp
        mov     %ebx, %eax
        pop     %ebx
        pop     %ebp
        ret
.endm

        .p2align 4
        .globl  _zk_guarded_rdmsr
_zk_guarded_rdmsr:
        GUARD_ENTER .Lmsr_fault, .Lmsr_resume, .Lmsr_resume
        mov     8(%ebp), %ecx
.Lmsr_fault:
        rdmsr
.Lmsr_resume:
        test    %ebx, %ebx
        jz      1f
        mov     12(%ebp), %ecx
        mov     %eax, (%ecx)
        mov     %edx, 4(%ecx)
1:      GUARD_LEAVE

        .p2align 4
        .globl  _zk_guarded_in
_zk_guarded_in:
        GUARD_ENTER .Lin_fault, .Lin_resume, .Lin_resume
        mov     8(%ebp), %edx
        mov     12(%ebp), %ecx
        xor     %eax, %eax
        cmp     $1, %ecx
        je      .Lin_fault
        cmp     $2, %ecx
        je      .Lin_word
        jmp     .Lin_dword
.Lin_fault:
        inb     %dx, %al
        jmp     .Lin_resume
.Lin_word:
        inw     %dx, %ax
        jmp     .Lin_resume
.Lin_dword:
        inl     %dx, %eax
.Lin_resume:
        test    %ebx, %ebx
        jz      1f
        mov     16(%ebp), %ecx
        mov     %eax, (%ecx)
1:      GUARD_LEAVE

        .p2align 4
        .globl  _zk_guarded_out
_zk_guarded_out:
        GUARD_ENTER .Lout_fault, .Lout_resume, .Lout_resume
        mov     8(%ebp), %edx
        mov     12(%ebp), %ecx
        mov     16(%ebp), %eax
        cmp     $1, %ecx
        je      .Lout_fault
        cmp     $2, %ecx
        je      .Lout_word
        jmp     .Lout_dword
.Lout_fault:
        outb    %al, %dx
        jmp     .Lout_resume
.Lout_word:
        outw    %ax, %dx
        jmp     .Lout_resume
.Lout_dword:
        outl    %eax, %dx
.Lout_resume:
        GUARD_LEAVE
